#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/AgentDescriptor.h"
#include "protocol/Envelope.h"
#include "protocol/Handshake.h"
#include "protocol/HandshakeMessages.h"
#include "protocol/KxSec.h"

namespace kx {

// A paired device's identifier and long-term key.
struct DeviceCredentials {
    std::string deviceId;
    SigningKey key;
};

// What the agent said about itself in its "sec.auth" reply.
struct AuthReply {
    std::string agentPubKey;  // base64url
    std::string fingerprint;
    AgentDescriptor agent;
    std::vector<std::string> caps;
    std::optional<JSONValue> unavailable;
};

// The phone's side of the two-message handshake, without any I/O: answers the agent's hello and
// checks its encrypted reply. One object per connection attempt.
class ClientHandshake {
public:
    // Without credentials the client connects in pairing mode. `pinnedFingerprint` is the agent
    // fingerprint from the pairing code or the state file.
    ClientHandshake(ClientIdentity client, std::optional<DeviceCredentials> credentials, std::string pinnedFingerprint);

    struct Answer {
        Bytes secAuthFrame;  // cleartext, length prefix included
        std::unique_ptr<SecureChannel> channel;
    };
    // Throws ProtocolViolation for an unusable hello, PairingRefused when pairing is not open.
    Answer answerHello(ByteView helloBody);

    // Checks the first envelope opened on the channel. Throws ProtocolViolation,
    // BadAgentSignature or FingerprintMismatch.
    AuthReply acceptReply(const Envelope& reply) const;

private:
    ClientIdentity client_;
    std::optional<DeviceCredentials> credentials_;
    std::string pinnedFingerprint_;
    Handshake handshake_{HandshakeRole::client};
    std::optional<Key32> transcript_;
};

}  // namespace kx
