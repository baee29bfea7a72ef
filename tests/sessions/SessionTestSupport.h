#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "agent/transport/CommandRouter.h"
#include "tests/support/TempFolder.h"

namespace kx::testing {

// Dispatches one authenticated request and returns the response envelope.
inline Envelope call(const CommandRouter& router, const std::string& method, JSONObject params = {}) {
    static std::atomic<int> next{0};
    return router.dispatch(Envelope::request(std::to_string(next++), method, std::move(params)),
                           RequestContext{"device", true});
}

// The result of a call that must succeed (an empty object when it failed, with a test failure).
JSONObject succeed(const CommandRouter& router, const std::string& method, JSONObject params = {});
// The error of a call that must fail.
WireError fail(const CommandRouter& router, const std::string& method, JSONObject params = {});

}  // namespace kx::testing
