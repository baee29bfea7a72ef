#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/JSONValue.h"  // JSONDecodeError

namespace kx::Signaling {

// Records for setting up a peer-to-peer session through a rendezvous room.
struct Message {
    enum class Kind { offer, answer, candidate, ready };
    Kind kind = Kind::offer;
    std::string payload;
    std::string session;
    std::optional<std::string> sdpMid;
    std::optional<std::int32_t> sdpMLineIndex;

    std::string encode() const;                    // kind, payload, sdpMid?, sdpMLineIndex?, session
    static Message decode(std::string_view text);  // throws JSONDecodeError
    friend bool operator==(const Message&, const Message&) = default;
};

// "kx1-" + the first 32 characters of base64url(SHA-256("kestrix/v1/room" + fingerprint)).
std::string room(std::string_view agentFingerprint);

}  // namespace kx::Signaling

namespace kx {

// A rendezvous transport for signaling messages; the agent itself neither implements nor uses it.
class SignalingChannel {
public:
    virtual ~SignalingChannel() = default;
    virtual void join(const std::string& room) = 0;
    virtual void send(const Signaling::Message& message) = 0;
    virtual void leave() = 0;
    virtual void setReceiver(std::function<void(const Signaling::Message&)> receiver) = 0;
    virtual bool isJoined() const = 0;
};

}  // namespace kx
