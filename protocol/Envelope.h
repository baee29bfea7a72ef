#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/JSONValue.h"
#include "protocol/WireError.h"

namespace kx {

enum class MessageKind { request, response, event };
std::string_view wireString(MessageKind kind);
std::optional<MessageKind> messageKindFromWire(std::string_view text);

// Why a decoded envelope cannot be routed; cases in rule order.
struct ValidationFailure : std::exception {
    enum class Case { unsupportedVersion, missingID, missingMethod, missingOK, missingError, missingSequence };
    Case which;
    std::int64_t version = 0;  // for unsupportedVersion
    explicit ValidationFailure(Case c, std::int64_t v = 0) : which(c), version(v) {}
    const char* what() const noexcept override;
    friend bool operator==(const ValidationFailure& a, const ValidationFailure& b) {
        return a.which == b.which && a.version == b.version;
    }
};

// One message after the handshake: a request, a response or an event.
struct Envelope {
    std::int64_t v = 1;
    MessageKind t = MessageKind::request;
    std::optional<std::string> id;
    std::optional<std::string> m;
    std::optional<JSONObject> p;
    std::optional<bool> ok;
    std::optional<WireError> e;
    std::optional<std::uint64_t> seq;

    static Envelope request(std::string id, std::string method, std::optional<JSONObject> params = {});
    static Envelope success(std::string id, std::optional<JSONObject> result = {});
    static Envelope failure(std::string id, WireError error);
    static Envelope event(std::string method, std::uint64_t seq, std::optional<JSONObject> params = {});

    void validate() const;  // throws ValidationFailure

    // Compact JSON with keys in the order v, t, id, m, p, ok, e, seq; absent keys omitted.
    std::string encode() const;
    // Throws JSONDecodeError when the text is not an envelope (v and t mandatory and well typed).
    static Envelope decode(std::string_view text);

    friend bool operator==(const Envelope&, const Envelope&) = default;
};

}  // namespace kx
