#pragma once

#include <chrono>
#include <future>
#include <string>

#include "protocol/JSONValue.h"
#include "protocol/WireError.h"

namespace kx {

// How one request ended, as the network thread saw it. Errors travel as data and become
// exceptions only in the thread that asks for the result.
struct CallOutcome {
    enum class Kind { result, errorResponse, connectionClosed, protocolViolation };
    Kind kind = Kind::result;
    JSONObject result;
    WireError error;     // errorResponse
    std::string reason;  // connectionClosed, protocolViolation

    static CallOutcome closed(std::string why) { return {Kind::connectionClosed, {}, {}, std::move(why)}; }
    // The result, or the matching ClientError thrown.
    JSONObject unwrap() const;
};

// A request in flight. get() waits for the answer and returns its result or throws
// ErrorResponse, ConnectionClosed or ProtocolViolation.
class PendingCall {
public:
    explicit PendingCall(std::future<CallOutcome> outcome) : outcome_(std::move(outcome)) {}

    JSONObject get() { return outcome_.get().unwrap(); }
    template <typename Rep, typename Period>
    std::future_status wait_for(const std::chrono::duration<Rep, Period>& timeout) const {
        return outcome_.wait_for(timeout);
    }
    bool valid() const { return outcome_.valid(); }

private:
    std::future<CallOutcome> outcome_;
};

}  // namespace kx
