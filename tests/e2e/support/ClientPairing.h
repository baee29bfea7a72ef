#pragma once

#include <memory>

#include "client/ClientState.h"
#include "client/DevicePairing.h"
#include "client/KxClient.h"
#include "tests/e2e/support/AgentProcess.h"

namespace kx::e2e {

inline ClientIdentity testPhone() {
    return {"test phone", "kestrix-e2e", "test"};
}

// Pairs a new phone with the agent through `kestrixd pair` and the client library; returns what
// the phone stores. Throws what pairing throws.
inline ClientState pairClient(const AgentProcess& agent) {
    return pairWithCode(agent.pairingCode(), testPhone());
}

// Connects as the paired device of `state`.
inline std::unique_ptr<KxClient> connectClient(const ClientState& state) {
    return KxClient::connect(ConnectOptions::forDevice(state, testPhone()));
}

}  // namespace kx::e2e
