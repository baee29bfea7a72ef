#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "protocol/Envelope.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/HandshakeMessages.h"
#include "protocol/KxSec.h"
#include "protocol/SecureChannel.h"

namespace kx::e2e {

// A phone-side connection at the level of frames, for tests that need to misbehave on purpose
// (garbage, oversized frames, bad signatures, a handshake that never finishes). Blocking calls,
// each with a time limit; one thread at a time.
class RawPeer {
public:
    static constexpr std::chrono::milliseconds defaultWait{5000};

    // Connects to 127.0.0.1:port; throws std::system_error.
    explicit RawPeer(std::uint16_t port);
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    // The agent's cleartext hello.
    SecHello readHello(std::chrono::milliseconds wait = defaultWait);
    // A SecAuth answering `hello`; signed with `deviceKey` when `deviceID` is given.
    SecAuth makeAuth(const SecHello& hello, const std::optional<std::string>& deviceID,
                     const std::optional<SigningKey>& deviceKey);
    // Reads the hello, authenticates (or asks to pair when no device is given) and returns the
    // "sec.auth" reply; absent when the agent closed the connection instead. Each of the two waits
    // for the agent is `wait` at most.
    std::optional<Envelope> handshake(const std::optional<std::string>& deviceID = std::nullopt,
                                      const std::optional<SigningKey>& deviceKey = std::nullopt,
                                      std::chrono::milliseconds wait = defaultWait);

    void sendBytes(ByteView bytes);
    // Sends until done or until the agent has taken nothing for `stall`; returns the bytes it took.
    std::size_t sendWhileTaken(ByteView bytes, std::chrono::milliseconds stall);
    void sendFrame(ByteView body);
    // Seals one plaintext on the established channel and sends it.
    void sendSealed(std::string_view plaintext);
    void sendRequest(const std::string& id, const std::string& method, const JSONObject& params = {});
    // Seals a request and appends its frame to `batch`, for several requests sent in one write.
    void appendRequest(Bytes& batch, const std::string& id, const std::string& method, const JSONObject& params = {});

    // The next frame body; absent when the connection ended or nothing came in time.
    std::optional<Bytes> readFrame(std::chrono::milliseconds wait = defaultWait);
    // The next envelope on the established channel; absent as above.
    std::optional<Envelope> readEnvelope(std::chrono::milliseconds wait = defaultWait);
    // Sends a request and reads envelopes until its response (events are skipped).
    std::optional<Envelope> call(const std::string& method, const JSONObject& params = {});
    // Whether such a call is answered with success.
    bool succeeds(const std::string& method, const JSONObject& params = {});

    // True when the agent closes the connection within the wait (after any pending bytes).
    bool waitForClose(std::chrono::milliseconds wait = defaultWait);

    SecureChannel* channel() { return channel_.get(); }

private:
    int fd_ = -1;
    FrameAccumulator frames_;
    std::deque<Bytes> pending_;  // whole frames read ahead
    bool ended_ = false;
    std::unique_ptr<SecureChannel> channel_;
    std::uint64_t nextID_ = 1;
};

}  // namespace kx::e2e
