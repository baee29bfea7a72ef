#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <vector>

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

// The results of calls made with callAsync, in the order given; throws when one is not answered
// within 30 seconds, or what the call throws.
inline std::vector<JSONObject> awaitAll(std::vector<PendingCall>& calls) {
    std::vector<JSONObject> results;
    for (auto& call : calls) {
        if (call.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
            throw std::runtime_error("a call was not answered in time");
        results.push_back(call.get());
    }
    return results;
}

}  // namespace kx::e2e
