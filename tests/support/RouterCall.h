#pragma once

#include <string>

#include "agent/transport/CommandRouter.h"

namespace kx::testing {

// Dispatches one request, id "1", from an authenticated device and returns the response envelope.
inline Envelope call(const CommandRouter& router, const std::string& method, JSONObject params = {}) {
    return router.dispatch(Envelope::request("1", method, std::move(params)), RequestContext{"device", true});
}

}  // namespace kx::testing
