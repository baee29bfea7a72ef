#include "agent/update/UpdateMethods.h"

#include "protocol/WireError.h"

namespace kx {

void registerUpdateMethods(CommandRouter& router, std::shared_ptr<UpdateService> updates) {
    router.registerMethod(
        "agent.update.status", Capability::agentUpdate, true,
        [updates](const JSONObject&, const RequestContext&) { return updates->status().statusResult(); });
    router.registerMethod(
        "agent.update.install", Capability::agentUpdate, true, [updates](const JSONObject&, const RequestContext&) {
            try {
                updates->install();
            } catch (const InstallRefusalError& refused) {
                auto code = refused.refusal == InstallRefusal::busy ? ErrorCode::busy : ErrorCode::targetNotFound;
                throw WireError(code, refused.what());
            }
            return JSONObject{{"started", true}};
        });
}

}  // namespace kx
