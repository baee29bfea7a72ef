#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "protocol/WireError.h"

namespace kx {

// Everything the client library throws derives from ClientError; what() is one line for a user.
struct ClientError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// No TCP connection could be made, or the agent did not finish the handshake in time.
struct AgentUnreachable : ClientError {
    using ClientError::ClientError;
};

// The agent's key is not the one pinned at pairing: possibly someone else answering.
struct FingerprintMismatch : ClientError {
    std::string expected;
    std::string actual;
    FingerprintMismatch(std::string expectedFingerprint, std::string actualFingerprint);
};

// The agent's handshake signature does not verify under the key it presented.
struct BadAgentSignature : ClientError {
    BadAgentSignature();
};

// The agent would not pair this device; `agentError` holds its answer when it gave one.
struct PairingRefused : ClientError {
    std::optional<WireError> agentError;
    explicit PairingRefused(const std::string& reason, std::optional<WireError> error = std::nullopt);
};

// The agent closed the connection (or it failed) before or while waiting for an answer.
struct ConnectionClosed : ClientError {
    using ClientError::ClientError;
};

// The agent sent something this client cannot understand.
struct ProtocolViolation : ClientError {
    using ClientError::ClientError;
};

// A request got no answer within its time limit; the connection stays usable.
struct RequestTimeout : ClientError {
    using ClientError::ClientError;
};

// The agent answered a request with an error.
struct ErrorResponse : ClientError {
    WireError error;
    explicit ErrorResponse(WireError wireError);
};

// The pairing code text cannot be used.
struct InvalidPairingCode : ClientError {
    using ClientError::ClientError;
};

// The client's state file cannot be read, parsed or written.
struct StateFileError : ClientError {
    using ClientError::ClientError;
};

}  // namespace kx
