#include "client/ClientError.h"

#include "protocol/ErrorCode.h"

namespace kx {

FingerprintMismatch::FingerprintMismatch(std::string expectedFingerprint, std::string actualFingerprint)
    : ClientError("agent key fingerprint " + actualFingerprint + " does not match the pinned " + expectedFingerprint +
                  ": refusing to talk to it"),
      expected(std::move(expectedFingerprint)),
      actual(std::move(actualFingerprint)) {}

BadAgentSignature::BadAgentSignature()
    : ClientError("the agent's handshake signature is invalid: refusing to talk to it") {}

PairingRefused::PairingRefused(const std::string& reason, std::optional<WireError> error)
    : ClientError("pairing refused: " + reason), agentError(std::move(error)) {}

ErrorResponse::ErrorResponse(WireError wireError)
    : ClientError("error " + std::string(wireString(wireError.code)) + ": " + wireError.msg),
      error(std::move(wireError)) {}

}  // namespace kx
