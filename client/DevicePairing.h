#pragma once

#include <chrono>
#include <string_view>

#include "agent/pairing/PairingPayload.h"
#include "client/ClientState.h"
#include "client/KxClient.h"

namespace kx {

// Reads the text of a pairing code; throws InvalidPairingCode when it is not a usable code
// (not the payload JSON, another version, no listening port, a malformed fingerprint).
PairingPayload parsePairingCode(std::string_view text);

// Redeems a pairing code: connects in pairing mode, checks that the agent presents the key whose
// fingerprint the code carries, creates this device's Ed25519 key and calls "pair.begin".
// Returns the state to store; throws PairingRefused (with the agent's error when it answered),
// FingerprintMismatch, AgentUnreachable or another ClientError.
ClientState pairWithCode(const PairingPayload& code, const ClientIdentity& client = defaultClientIdentity(),
                         std::chrono::milliseconds timeout = ConnectOptions::defaultTimeout);

}  // namespace kx
