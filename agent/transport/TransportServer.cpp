#include "agent/transport/TransportServer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <asio/ip/v6_only.hpp>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/support/DescriptorLimit.h"
#include "agent/support/Log.h"
#include "agent/transport/Session.h"
#include "protocol/Base64URL.h"
#include "protocol/KxSec.h"

namespace kx {

namespace {
using asio::ip::tcp;

// Established sessions have no idle limit; keepalive finds peers that vanished without a word.
constexpr int keepAliveIdleSeconds = 30;
constexpr int keepAliveIntervalSeconds = 10;
constexpr int keepAliveProbes = 3;
// Pause before accepting again after running out of descriptors or memory.
constexpr std::chrono::milliseconds acceptRetryDelay{100};

// No delay and keepalive for a connection. Linux gives accepted connections the listener's
// options, so there they are set once on the listener rather than five calls per connection.
void setConnectionOptions(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &keepAliveIdleSeconds, sizeof keepAliveIdleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &keepAliveIntervalSeconds, sizeof keepAliveIntervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &keepAliveProbes, sizeof keepAliveProbes);
}

bool isShortOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE;
}

void listenOn(tcp::acceptor& listener, const tcp::endpoint& endpoint, bool dualStack) {
    // Created close-on-exec, so that no child process the agent starts inherits the listener.
    int fd = ::socket(endpoint.protocol().family(), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) throw std::system_error(errno, std::system_category(), "socket");
    asio::error_code error;
    listener.assign(endpoint.protocol(), fd, error);
    if (error) {
        ::close(fd);
        throw std::system_error(error);
    }
    if (dualStack) listener.set_option(asio::ip::v6_only(false));
    listener.set_option(asio::socket_base::reuse_address(true));
    listener.bind(endpoint);
    listener.listen(asio::socket_base::max_listen_connections);
    listener.non_blocking(true);
    setConnectionOptions(fd);
}

int openReserveDescriptor() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}
}  // namespace

std::shared_ptr<TransportServer> TransportServer::create(AgentIdentity identity,
                                                         std::shared_ptr<DeviceRegistry> registry,
                                                         std::shared_ptr<PairingService> pairing,
                                                         std::shared_ptr<const CommandRouter> router,
                                                         AgentDescriptor agentInfo, Options options) {
    std::shared_ptr<TransportServer> server(new TransportServer(std::move(identity), registry, std::move(pairing),
                                                                std::move(router), std::move(agentInfo),
                                                                std::move(options)));
    std::weak_ptr<TransportServer> weak = server;
    registry->setOnRevoke([weak](const std::string& deviceID) {
        if (auto self = weak.lock()) self->closeConnections(deviceID);
    });
    server->context_->pairing->addWindowClosedObserver([weak](std::uint64_t generation) {
        if (auto self = weak.lock())
            asio::post(*self->context_->queue, [weak, generation] {
                if (auto server = weak.lock()) server->onPairingWindowClosed(generation);
            });
    });
    return server;
}

TransportServer::TransportServer(AgentIdentity identity, std::shared_ptr<DeviceRegistry> registry,
                                 std::shared_ptr<PairingService> pairing, std::shared_ptr<const CommandRouter> router,
                                 AgentDescriptor agentInfo, Options options)
    : advertiser_(std::move(options.advertiser)) {
    auto workers = std::make_shared<WorkerPool>(options.workerCount);
    std::string publicKeyText = base64URLEncode(identity.publicKey());
    auto queue = std::make_shared<asio::io_context>(1);
    auto lastSeen = std::make_shared<LastSeenRecorder>(registry, workers, *queue);
    context_ = std::make_shared<SessionContext>(
        SessionContext{std::move(identity), std::move(publicKeyText), registry, std::move(pairing), std::move(router),
                       std::move(agentInfo), std::move(queue), workers, std::move(lastSeen), options.handshakeTimeout,
                       Bytes(Session::maxRead), options.limits});
    reserveDescriptor_ = openReserveDescriptor();
    keepRunning_.emplace(context_->queue->get_executor());
    queueThread_ = std::thread([queue = context_->queue] { queue->run(); });
}

TransportServer::~TransportServer() {
    // The last owner may let go on the queue's own thread (from a callback): then the queue cannot
    // be waited for, so the sessions are closed right here and the thread ends on its own.
    bool onQueue = context_->queue->get_executor().running_in_this_thread();
    {
        std::lock_guard control(controlLock_);
        published_.reset();
        if (onQueue)
            closeListenerAndSessions();
        else
            onQueueAndWait([this] { closeListenerAndSessions(); });
    }
    notifyConnections(0);
    keepRunning_.reset();
    context_->queue->stop();
    if (onQueue)
        queueThread_.detach();
    else
        queueThread_.join();
    if (reserveDescriptor_ >= 0) ::close(reserveDescriptor_);
    // Work still queued holds sessions only weakly and never runs. Request jobs may still hold
    // the context; they find their sessions gone and drop their answers.
}

void TransportServer::start(std::optional<std::uint16_t> port, bool advertise) {
    std::lock_guard control(controlLock_);
    stopLocked();
    setState(TransportState::starting());
    auto listener = openListener(port.value_or(0));
    std::uint16_t boundPort = listener->local_endpoint().port();
    onQueueAndWait([&] {
        descriptorLimit_ = softDescriptorLimit();
        listener_ = listener;
        acceptNext();
    });
    if (advertise) this->advertise(boundPort);
    setState(TransportState::listening(boundPort));
}

std::shared_ptr<tcp::acceptor> TransportServer::openListener(std::uint16_t port) {
    auto listener = std::make_shared<tcp::acceptor>(*context_->queue);
    try {
        listenOn(*listener, tcp::endpoint(tcp::v6(), port), true);
        return listener;
    } catch (const std::system_error&) {
        // No IPv6 here (or not for this port): IPv4 alone.
        listener = std::make_shared<tcp::acceptor>(*context_->queue);
        listenOn(*listener, tcp::endpoint(tcp::v4(), port), false);
        return listener;
    }
}

void TransportServer::advertise(std::uint16_t port) {
    if (!advertiser_) return;
    ServiceAdvertisement advertisement;
    advertisement.name = context_->agentInfo.name;
    advertisement.type = std::string(serviceType);
    advertisement.port = port;
    advertisement.txt = {{"v", "1"}, {"fp", context_->identity.fingerprint()}, {"name", context_->agentInfo.name}};
    published_ = advertiser_->publish(advertisement);
}

void TransportServer::acceptNext() {
    auto listener = listener_;
    listener->async_wait(tcp::acceptor::wait_read,
                         [this, listener](const asio::error_code& error) { onListenerReady(listener, error); });
}

// One connection per turn, so that accepting never starves the sessions. Accepted sockets are
// close-on-exec from the start.
void TransportServer::onListenerReady(const std::shared_ptr<tcp::acceptor>& listener, const asio::error_code& error) {
    if (error == asio::error::operation_aborted || listener != listener_) return;
    if (error) return setState(TransportState::failed(error.message()));
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    int fd = ::accept4(listener->native_handle(), reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
    if (fd < 0) return onAcceptError(listener, errno);
    // Readiness is reported on edges only: try again until the backlog is empty.
    asio::post(*context_->queue, [this, listener] { onListenerReady(listener, {}); });
    asio::error_code assignError;
    tcp::socket connection(*context_->queue);
    connection.assign(peer.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), fd, assignError);
    if (assignError) {
        ::close(fd);
        return;
    }
    // Descriptors are handed out lowest first, so a high number means few are left.
    addSession(std::move(connection), static_cast<std::uint64_t>(fd) + descriptorHeadroom >= descriptorLimit_);
}

void TransportServer::onAcceptError(const std::shared_ptr<tcp::acceptor>& listener, int error) {
    switch (error) {
        case EAGAIN: return acceptNext();
        case EINTR:
        case ECONNABORTED:
        case EPROTO: return asio::post(*context_->queue, [this, listener] { onListenerReady(listener, {}); });
        default: break;
    }
    if (isShortOfDescriptors(error)) {
        // A connection still in its handshake gives up its descriptor to the newcomer.
        if (auto oldest = waiting_.evictOne()) {
            closeSession(*oldest);
            return asio::post(*context_->queue, [this, listener] { onListenerReady(listener, {}); });
        }
        refuseOneWithReserve(listener);
    }
    if (isShortOfDescriptors(error) || error == ENOBUFS || error == ENOMEM) {
        if (auto held = acceptTrouble_.admit())
            log::error("transport: cannot accept a connection for now: " + std::system_category().message(error) +
                       (*held ? " (" + std::to_string(*held) + " more since the last report)" : std::string()));
        return retryAcceptSoon(listener);
    }
    setState(TransportState::failed(std::system_category().message(error)));
}

// With every descriptor in use by established sessions, the newcomer is accepted and closed at once
// (with the descriptor kept in reserve for this), so that it learns so instead of waiting.
void TransportServer::refuseOneWithReserve(const std::shared_ptr<tcp::acceptor>& listener) {
    if (reserveDescriptor_ < 0) return;
    ::close(reserveDescriptor_);
    int fd = ::accept4(listener->native_handle(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) ::close(fd);
    reserveDescriptor_ = openReserveDescriptor();
}

void TransportServer::retryAcceptSoon(const std::shared_ptr<tcp::acceptor>& listener) {
    acceptRetry_ = std::make_unique<asio::steady_timer>(*context_->queue, acceptRetryDelay);
    acceptRetry_->async_wait([this, listener](const asio::error_code& error) {
        if (!error && listener == listener_) onListenerReady(listener, {});
    });
}

void TransportServer::addSession(tcp::socket connection, bool nearlyOutOfDescriptors) {
#ifndef __linux__
    setConnectionOptions(connection.native_handle());
#endif
    auto session = std::make_shared<Session>(std::move(connection), context_);
    std::uint64_t number = ++accepted_;
    session->setOnClose([this, number] { asio::post(*context_->queue, [this, number] { removeSession(number); }); });
    session->setOnEstablished([this, number] { onEstablished(number); });
    connections_.emplace(number, session);
    if (nearlyOutOfDescriptors)
        if (auto oldest = waiting_.evictOne()) closeSession(*oldest);
    for (std::uint64_t evicted : waiting_.admit(number, session->peerAddress())) closeSession(evicted);
    session->start();
    // Last: the owner may let go of the server from inside its callback.
    notifyConnections(connections_.size());
}

void TransportServer::closeSession(std::uint64_t number) {
    // Closing calls the session's onClose, which only posts its removal.
    if (auto found = connections_.find(number); found != connections_.end()) found->second->close();
}

void TransportServer::onEstablished(std::uint64_t number) {
    waiting_.remove(number);
    auto found = connections_.find(number);
    if (found == connections_.end() || !found->second->pairingWindow()) return;
    if (pairingSessions_.size() >= maxPairingSessions) {
        std::uint64_t oldest = pairingSessions_.front().number;
        pairingSessions_.erase(pairingSessions_.begin());
        closeSession(oldest);
    }
    const PairingService::Window& window = *found->second->pairingWindow();
    auto remaining =
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(window.expiresAt - context_->pairing->now());
    pairingSessions_.push_back(
        {number, window.generation, std::chrono::steady_clock::now() + remaining + pairingGrace});
    sweepPairingSessions();
}

void TransportServer::onPairingWindowClosed(std::uint64_t generation) {
    auto closesAt = std::chrono::steady_clock::now() + pairingGrace;
    for (auto& pairing : pairingSessions_)
        if (pairing.window == generation) pairing.closesAt = std::min(pairing.closesAt, closesAt);
    sweepPairingSessions();
}

// Closes the pairing-mode sessions that are due and waits for the next one.
void TransportServer::sweepPairingSessions() {
    auto now = std::chrono::steady_clock::now();
    std::vector<std::uint64_t> due;
    std::erase_if(pairingSessions_, [&](const PairingSession& pairing) {
        if (pairing.closesAt > now) return false;
        due.push_back(pairing.number);
        return true;
    });
    for (std::uint64_t number : due) closeSession(number);
    pairingSweep_.reset();
    if (pairingSessions_.empty()) return;
    auto next = std::min_element(pairingSessions_.begin(), pairingSessions_.end(),
                                 [](auto& a, auto& b) { return a.closesAt < b.closesAt; });
    pairingSweep_ = std::make_unique<asio::steady_timer>(*context_->queue, next->closesAt);
    pairingSweep_->async_wait([this](const asio::error_code& error) {
        if (!error) sweepPairingSessions();
    });
}

void TransportServer::removeSession(std::uint64_t number) {
    waiting_.remove(number);
    std::erase_if(pairingSessions_, [&](const PairingSession& pairing) { return pairing.number == number; });
    if (connections_.erase(number) == 0) return;
    notifyConnections(connections_.size());
}

void TransportServer::stop() {
    std::lock_guard control(controlLock_);
    stopLocked();
}

void TransportServer::stopLocked() {
    published_.reset();
    onQueueAndWait([this] { closeListenerAndSessions(); });
    notifyConnections(0);
    setState(TransportState::stopped());
}

void TransportServer::closeListenerAndSessions() {
    if (listener_) {
        asio::error_code ignored;
        listener_->close(ignored);
        listener_.reset();
    }
    acceptRetry_.reset();
    pairingSweep_.reset();
    pairingSessions_.clear();
    waiting_.clear();
    auto sessions = std::move(connections_);
    connections_.clear();
    for (auto& [key, session] : sessions) session->close();
    context_->lastSeen->writeNow();
}

void TransportServer::broadcast(const std::string& event, const JSONObject& params) {
    onQueueAndWait([&] {
        for (auto& [key, session] : connections_) session->pushEvent(event, params);
    });
}

std::size_t TransportServer::ringDevices() {
    auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
    JSONObject params{{"startedAt", static_cast<double>(now.count())}};
    return onQueueAndWait([&] {
        for (auto& [key, session] : connections_) session->pushEvent("device.ring", params);
        return connections_.size();
    });
}

std::size_t TransportServer::connectionCount() {
    return onQueueAndWait([this] { return connections_.size(); });
}

void TransportServer::closeConnections(const std::string& deviceID) {
    asio::post(*context_->queue, [this, deviceID] {
        std::vector<std::shared_ptr<Session>> revoked;
        for (auto& [key, session] : connections_)
            if (session->deviceID() == deviceID) revoked.push_back(session);
        for (auto& session : revoked) session->close();
    });
}

TransportState TransportServer::state() const {
    std::lock_guard guard(stateLock_);
    return state_;
}

// Callbacks are called through copies: the owner may let go of the server from inside one.
void TransportServer::setState(TransportState state) {
    {
        std::lock_guard guard(stateLock_);
        state_ = state;
    }
    if (auto callback = onStateChange_) callback(state);
}

void TransportServer::notifyConnections(std::size_t count) {
    if (auto callback = onConnectionsChange_) callback(count);
}

}  // namespace kx
