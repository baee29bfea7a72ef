#pragma once

#include <memory>

#include "client/ClientState.h"
#include "client/KxClient.h"
#include "tests/e2e/support/AgentProcess.h"

namespace kx::e2e {

// Pairs a new phone with the agent through `kestrixd pair` and the client library; returns what
// the phone stores. Throws what pairing throws.
ClientState pairClient(const AgentProcess& agent);

// Connects as the paired device of `state`.
std::unique_ptr<KxClient> connectClient(const ClientState& state);

}  // namespace kx::e2e
