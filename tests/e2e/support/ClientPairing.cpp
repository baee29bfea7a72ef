#include "tests/e2e/support/ClientPairing.h"

#include "client/DevicePairing.h"

namespace kx::e2e {

namespace {
ClientIdentity testPhone() {
    return {"test phone", "kestrix-e2e", "test"};
}
}  // namespace

ClientState pairClient(const AgentProcess& agent) {
    return pairWithCode(agent.pairingCode(), testPhone());
}

std::unique_ptr<KxClient> connectClient(const ClientState& state) {
    return KxClient::connect(ConnectOptions::forDevice(state, testPhone()));
}

}  // namespace kx::e2e
