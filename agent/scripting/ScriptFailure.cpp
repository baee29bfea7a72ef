#include "agent/scripting/ScriptFailure.h"

namespace kx {

WireError ScriptFailure::wireError() const {
    switch (reason_) {
        case Reason::notPermitted:
            return {ErrorCode::permissionDenied, "Kestrix needs permission to control this app",
                    JSONObject{{"permission", "automation"}, {"bundleId", appID_}}};
        case Reason::appNotRunning:
            return {ErrorCode::targetNotFound, "That app is not running", JSONObject{{"bundleId", appID_}}};
        case Reason::timedOut: return {ErrorCode::timeout, "The app did not respond"};
        case Reason::failed: break;
    }
    return {ErrorCode::internal, "Could not talk to that app"};
}

}  // namespace kx
