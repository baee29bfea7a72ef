#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "agent/pairing/PairingService.h"
#include "agent/transport/SessionContext.h"
#include "agent/transport/SessionLanes.h"
#include "protocol/Envelope.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/Handshake.h"
#include "protocol/SecureChannel.h"

namespace kx {

// The agent's side of one TCP connection: sends the hello, authenticates the phone (as a paired
// device or in pairing mode), then opens each sealed frame, decodes its request, runs it on the
// worker pool in the request's lane and seals the answer. Reading stops while the session holds
// too many requests or too many unsent bytes (SessionLimits). Every member is touched only on the
// transport queue's thread; the handshake's crypto runs on a worker with copies of what it needs.
class Session : public std::enable_shared_from_this<Session> {
public:
    enum class Phase { closed, awaitingAuth, established };

    // Largest single read from the socket.
    static constexpr std::size_t maxRead = 65536;
    // Reads in a row before other connections get their turn.
    static constexpr int readsPerTurn = 4;
    // The session's own buffer for the first bytes of a read: a whole small request.
    static constexpr std::size_t firstReadSize = 256;

    Session(asio::ip::tcp::socket connection, std::shared_ptr<SessionContext> context);

    // Sends the hello and starts reading; the handshake must finish within the context's limit.
    void start();
    // Seals and writes one envelope; does nothing unless established.
    void send(const Envelope& envelope);
    // Advances the event counter and, for an authenticated session, sends the event with it.
    void pushEvent(const std::string& event, const JSONObject& params);
    // Idempotent: cancels the connection and calls onClose once.
    void close();

    void setOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }
    // Unique for the life of the process; handed to every request as RequestContext::connectionID.
    std::uint64_t connectionID() const { return connectionID_; }
    // Called once the handshake has finished, as a paired device or in pairing mode.
    void setOnEstablished(std::function<void()> onEstablished) { onEstablished_ = std::move(onEstablished); }
    Phase phase() const { return phase_; }
    std::int64_t eventSequence() const { return eventSequence_; }
    const std::optional<std::string>& deviceID() const { return deviceID_; }
    bool isAuthenticated() const { return isAuthenticated_; }
    // The pairing window an unauthenticated session was let in during.
    const std::optional<PairingService::Window>& pairingWindow() const { return pairingWindow_; }
    // The peer's address as text ("192.0.2.7", IPv4 peers of a dual-stack listener included).
    const std::string& peerAddress() const { return peerAddress_; }

private:
    void sendHello();
    void armHandshakeLimit();
    void readNext();
    void onFirstRead(const asio::error_code& error, std::size_t count);
    void waitForMore();
    void onReadable(const asio::error_code& error);
    void readAvailable(const asio::error_code& error);
    void ingest(ByteView data);
    // False when the session cannot take further frames now (closed, or not yet established).
    bool handleFrame(ByteView body);
    // Handles the frames read so far, up to the session's limits.
    void handleUnread();
    bool isOverLimits() const;
    void resumeReading();
    // What a worker makes of the phone's authentication.
    struct Admission {
        HandshakeResult result;
        std::optional<std::string> deviceID;  // a paired device whose signature verified; absent: pairing
        std::string reply;                    // the sec.auth answer, encoded (empty: it could not be)
    };
    void authenticate(ByteView body);
    // On a worker: absent when the phone is refused. Throws on a malformed authentication.
    static std::optional<Admission> admit(const SessionContext& context, const Handshake& handshake,
                                          const std::string& text);
    void onAdmitted(std::optional<Admission> admission);
    static bool verifyDevice(const SessionContext& context, const std::string& deviceID,
                             const std::optional<std::string>& signature, const Key32& transcript);
    static JSONObject authReply(const SessionContext& context, const Signature64& signature);
    // False when the frame closed the session.
    bool handleSealedFrame(ByteView body);
    void dispatch(std::string_view plaintext);
    // The router's answer, encoded; "internal" for the same id when it cannot be encoded.
    static std::string answerTo(const Envelope& request, const CommandRouter& router, const RequestContext& snapshot);
    // The answer's text, or "internal" for the same id when it cannot be encoded.
    static std::string encoded(const Envelope& answer);
    void onAnswered(const std::string& id, const std::string& answer);
    // Seals an answer; one too large to seal is replaced by a failure for the same id.
    void sendAnswer(const std::string& id, const std::string& answer);
    // False when the text could not be sealed (it is dropped).
    bool sendText(const std::string& text);
    void write(Bytes frame);
    void writeNext();
    void waitUntilWritable();
    // Lets go of the frames the socket took.
    void takeWritten(std::size_t count);
    // Starts writing what is queued unless the socket is full.
    void flush();
    void armStallLimit();
    void onStallCheck(const asio::error_code& error);

    asio::ip::tcp::socket connection_;
    std::shared_ptr<SessionContext> context_;
    std::uint64_t connectionID_;
    asio::steady_timer handshakeLimit_;
    asio::steady_timer stallLimit_;
    Phase phase_ = Phase::closed;
    std::shared_ptr<const Handshake> handshake_;  // shared with the worker that completes it
    bool authenticating_ = false;                 // a worker is checking the phone's authentication
    std::unique_ptr<SecureChannel> channel_;
    FrameAccumulator accumulator_;
    std::array<std::uint8_t, firstReadSize> firstRead_{};
    std::int64_t eventSequence_ = 0;
    std::optional<std::string> deviceID_;
    bool isAuthenticated_ = false;
    std::optional<PairingService::Window> pairingWindow_;
    std::string peerAddress_;
    std::function<void()> onClose_;
    std::shared_ptr<SessionLanes> lanes_;
    // Sealed frame bodies read and not yet handled (the session went over its limits), from unreadHead_.
    std::vector<Bytes> unread_;
    std::size_t unreadHead_ = 0;
    std::size_t inFlight_ = 0;  // requests dispatched and not yet answered
    bool readPaused_ = false;
    // Frames to write from outboundHead_ on, of which the first has outboundOffset_ bytes written.
    std::vector<Bytes> outbound_;
    std::size_t outboundHead_ = 0;
    std::size_t outboundOffset_ = 0;
    std::size_t queuedBytes_ = 0;  // bytes of outbound_ not yet written
    bool isWriting_ = false;       // waiting for the socket to take more
    bool corked_ = false;          // while reading: answers are queued and written once the read is done
    bool fastPathTaken_ = false;   // a request of the current read was answered by its fast path
    bool stallArmed_ = false;
    std::chrono::steady_clock::time_point lastProgress_;  // the peer last took bytes, or output began
    std::function<void()> onEstablished_;
};

}  // namespace kx
