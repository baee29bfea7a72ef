#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "agent/support/LogThrottle.h"
#include "agent/transport/HandshakeAdmission.h"
#include "agent/transport/ServiceAdvertiser.h"
#include "agent/transport/SessionContext.h"
#include "agent/transport/TransportState.h"

namespace kx {

class Session;

// The agent's network front: listens for TCP connections (dual-stack where the system allows),
// advertises itself over DNS-SD, runs one Session per connection and pushes events to them.
//
// One thread runs the serial queue that owns the listener, every session and the connection set.
// Request handlers run on a worker pool. stop, broadcast, ringDevices and connectionCount wait
// for the queue and must not be called from it (they throw std::logic_error if they are).
// Callbacks are set before start; they are called on the queue or on the caller of start/stop.
class TransportServer {
public:
    static constexpr std::string_view serviceType = "_kestrix._tcp";
    static constexpr std::size_t defaultWorkerCount = 16;
    // A connection that has not finished its handshake by then is closed.
    static constexpr std::chrono::milliseconds defaultHandshakeTimeout{10000};
    // Sessions let in without a paired device's key (pairing mode); a newcomer closes the oldest.
    static constexpr std::size_t maxPairingSessions = 4;
    // A pairing-mode session lives this long past the end of its pairing window, so that the
    // answer to its pair.begin still goes out.
    static constexpr std::chrono::milliseconds pairingGrace{2000};
    // Descriptors left to the rest of the agent (bus connections, files, child processes): once an
    // accepted connection's descriptor number comes this close to the limit, a connection still in
    // its handshake is closed.
    static constexpr std::uint64_t descriptorHeadroom = 16;

    struct Options {
        std::size_t workerCount = defaultWorkerCount;
        std::chrono::milliseconds handshakeTimeout = defaultHandshakeTimeout;
        std::shared_ptr<ServiceAdvertiser> advertiser;  // null: never advertised
        SessionLimits limits;
    };

    // Also installs the registry's revocation callback, which closes the revoked device's sessions.
    static std::shared_ptr<TransportServer> create(AgentIdentity identity, std::shared_ptr<DeviceRegistry> registry,
                                                   std::shared_ptr<PairingService> pairing,
                                                   std::shared_ptr<const CommandRouter> router,
                                                   AgentDescriptor agentInfo, Options options);
    ~TransportServer();
    TransportServer(const TransportServer&) = delete;
    TransportServer& operator=(const TransportServer&) = delete;

    // Stops first, then listens on the port (any free port when absent or 0). Throws
    // std::system_error when the listener cannot be created; the state then stays `starting`.
    void start(std::optional<std::uint16_t> port, bool advertise);
    // Withdraws the advertisement, closes the listener and every session.
    void stop();

    // One event to every authenticated session, each with its own next sequence number.
    void broadcast(const std::string& event, const JSONObject& params);
    // Pushes "device.ring" and returns the number of connections (authenticated or not).
    std::size_t ringDevices();
    std::size_t connectionCount();
    // Closes every session authenticated as the device; returns at once.
    void closeConnections(const std::string& deviceID);

    TransportState state() const;
    void setOnStateChange(std::function<void(const TransportState&)> callback) { onStateChange_ = std::move(callback); }
    void setOnConnectionsChange(std::function<void(std::size_t)> callback) {
        onConnectionsChange_ = std::move(callback);
    }

private:
    TransportServer(AgentIdentity identity, std::shared_ptr<DeviceRegistry> registry,
                    std::shared_ptr<PairingService> pairing, std::shared_ptr<const CommandRouter> router,
                    AgentDescriptor agentInfo, Options options);

    template <typename Work>
    auto onQueueAndWait(Work work) -> decltype(work()) {
        if (context_->queue->get_executor().running_in_this_thread())
            throw std::logic_error("TransportServer: a waiting call was made from the transport queue");
        std::packaged_task<decltype(work())()> task(std::move(work));
        auto result = task.get_future();
        asio::post(*context_->queue, std::move(task));
        return result.get();
    }

    void stopLocked();
    void closeListenerAndSessions();
    std::shared_ptr<asio::ip::tcp::acceptor> openListener(std::uint16_t port);
    void acceptNext();
    void onListenerReady(const std::shared_ptr<asio::ip::tcp::acceptor>& listener, const asio::error_code& error);
    void onAcceptError(const std::shared_ptr<asio::ip::tcp::acceptor>& listener, int error);
    void refuseOneWithReserve(const std::shared_ptr<asio::ip::tcp::acceptor>& listener);
    void retryAcceptSoon(const std::shared_ptr<asio::ip::tcp::acceptor>& listener);
    void addSession(asio::ip::tcp::socket connection, bool nearlyOutOfDescriptors);
    void closeSession(std::uint64_t number);
    void onEstablished(std::uint64_t number);
    void onPairingWindowClosed(std::uint64_t generation);
    void sweepPairingSessions();
    void removeSession(std::uint64_t number);
    void advertise(std::uint16_t port);
    void setState(TransportState state);
    void notifyConnections(std::size_t count);

    std::shared_ptr<SessionContext> context_;
    std::shared_ptr<ServiceAdvertiser> advertiser_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> keepRunning_;
    std::thread queueThread_;

    std::mutex controlLock_;  // serialises start and stop
    std::unique_ptr<PublishedService> published_;

    // Queue only.
    std::shared_ptr<asio::ip::tcp::acceptor> listener_;
    std::unique_ptr<asio::steady_timer> acceptRetry_;
    std::uint64_t accepted_ = 0;                                     // numbers the connections in age order
    std::map<std::uint64_t, std::shared_ptr<Session>> connections_;  // by number
    HandshakeAdmission waiting_;                                     // connections still in their handshake
    struct PairingSession {
        std::uint64_t number;
        std::uint64_t window;
        std::chrono::steady_clock::time_point closesAt;
    };
    std::vector<PairingSession> pairingSessions_;  // oldest first
    std::unique_ptr<asio::steady_timer> pairingSweep_;
    int reserveDescriptor_ = -1;         // given up to refuse a connection when descriptors run out
    std::uint64_t descriptorLimit_ = 0;  // the soft limit when the listener opened
    LogThrottle acceptTrouble_;

    mutable std::mutex stateLock_;
    TransportState state_;
    std::function<void(const TransportState&)> onStateChange_;
    std::function<void(std::size_t)> onConnectionsChange_;
};

}  // namespace kx
