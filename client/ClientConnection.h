#pragma once

#include <array>
#include <asio.hpp>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "client/ClientHandshake.h"
#include "client/KxClient.h"
#include "client/PendingCall.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/SecureChannel.h"

namespace kx {

// The machinery behind KxClient: one network thread runs an io_context that alone touches the
// socket, the channel and the frame accumulator; callers meet it through promises and a queue.
class ClientConnection {
public:
    static constexpr std::size_t readChunk = 65536;
    static constexpr std::size_t maxQueuedEvents = 4096;

    explicit ClientConnection(ConnectOptions options);
    ~ClientConnection();

    // Blocks until the handshake is complete or has failed (then throws).
    void open();
    const AuthReply& auth() const { return auth_; }

    // Registers the request and queues it for sending; the id is for abandon().
    std::pair<std::string, std::future<CallOutcome>> send(const std::string& method, const JSONObject& params);
    void abandon(const std::string& id);

    void setEventHandler(KxClient::EventHandler handler);
    std::optional<Envelope> nextEvent(std::chrono::milliseconds timeout);
    bool isOpen() const;
    void close();

private:
    enum class Phase { connecting, awaitingHello, awaitingReply, established, closed };

    // Network thread only.
    void start();
    void onConnected(const asio::error_code& error);
    void readMore();
    void onRead(const asio::error_code& error, std::size_t count);
    void handleFrame(const Bytes& body);
    void handleHello(const Bytes& body);
    void handleReply(const Bytes& body);
    void handleEnvelope(const Bytes& body);
    void deliverResponse(const Envelope& response);
    void deliverEvent(const Envelope& event);
    void write(Bytes frame);
    void writeNext();
    void sendRequest(const std::string& id, const Envelope& request);
    void settle(const std::string& id, CallOutcome outcome);
    void endOfStream(const std::string& detail);
    void terminate(std::exception_ptr handshakeFailure, const std::string& reason);

    const ConnectOptions options_;
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    asio::ip::tcp::resolver resolver_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer deadline_;

    Phase phase_ = Phase::connecting;
    ClientHandshake handshake_;
    std::unique_ptr<SecureChannel> channel_;
    FrameAccumulator accumulator_{SecureChannel::maxFrame};
    std::array<std::uint8_t, readChunk> readBuffer_{};
    std::deque<Bytes> writes_;
    std::promise<void> opened_;
    bool openSettled_ = false;
    AuthReply auth_;

    // Shared with caller threads.
    mutable std::mutex lock_;
    std::condition_variable eventsChanged_;
    std::map<std::string, std::promise<CallOutcome>> pending_;
    std::deque<Envelope> events_;
    KxClient::EventHandler eventHandler_;
    std::optional<std::string> closedReason_;
    std::atomic<std::uint64_t> nextID_{1};

    std::thread thread_;  // last: runs once everything above exists
};

}  // namespace kx
