#include "agent/transport/TransportServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

#include <asio/ip/v6_only.hpp>

#include "agent/pairing/DeviceRegistry.h"
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

void configureConnection(tcp::socket& connection) {
    asio::error_code ignored;
    connection.set_option(tcp::no_delay(true), ignored);
    connection.set_option(asio::socket_base::keep_alive(true), ignored);
    int fd = connection.native_handle();
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &keepAliveIdleSeconds, sizeof keepAliveIdleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &keepAliveIntervalSeconds, sizeof keepAliveIntervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &keepAliveProbes, sizeof keepAliveProbes);
}

// Errors that say the system is short of something for a moment, not that the listener is broken.
bool isTransientAcceptError(const asio::error_code& error) {
    switch (error.value()) {
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
        case ECONNABORTED:
        case EINTR:
        case EPROTO: return error.category() == asio::system_category();
        default: return false;
    }
}

void listenOn(tcp::acceptor& listener, const tcp::endpoint& endpoint, bool dualStack) {
    listener.open(endpoint.protocol());
    if (dualStack) listener.set_option(asio::ip::v6_only(false));
    listener.set_option(asio::socket_base::reuse_address(true));
    listener.bind(endpoint);
    listener.listen(asio::socket_base::max_listen_connections);
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
    registry->setOnRevoke([weak = std::weak_ptr<TransportServer>(server)](const std::string& deviceID) {
        if (auto self = weak.lock()) self->closeConnections(deviceID);
    });
    return server;
}

TransportServer::TransportServer(AgentIdentity identity, std::shared_ptr<DeviceRegistry> registry,
                                 std::shared_ptr<PairingService> pairing, std::shared_ptr<const CommandRouter> router,
                                 AgentDescriptor agentInfo, Options options)
    : advertiser_(std::move(options.advertiser)) {
    auto workers = std::make_shared<WorkerPool>(options.workerCount);
    std::string publicKeyText = base64URLEncode(identity.publicKey());
    context_ = std::make_shared<SessionContext>(SessionContext{
        std::move(identity), std::move(publicKeyText), registry, std::move(pairing), std::move(router),
        std::move(agentInfo), std::make_shared<asio::io_context>(1), workers,
        std::make_shared<LastSeenRecorder>(registry, workers), options.handshakeTimeout, Bytes(Session::maxRead),
        options.limits});
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
    listener->async_accept([this, listener](const asio::error_code& error, tcp::socket connection) {
        onAccepted(listener, error, std::move(connection));
    });
}

void TransportServer::onAccepted(const std::shared_ptr<tcp::acceptor>& listener, const asio::error_code& error,
                                 tcp::socket connection) {
    if (error == asio::error::operation_aborted || listener != listener_) return;
    if (isTransientAcceptError(error)) {
        log::error("transport: cannot accept a connection for now: " + error.message());
        return retryAcceptSoon(listener);
    }
    if (error) return setState(TransportState::failed(error.message()));
    acceptNext();
    addSession(std::move(connection));
}

void TransportServer::retryAcceptSoon(const std::shared_ptr<tcp::acceptor>& listener) {
    acceptRetry_ = std::make_unique<asio::steady_timer>(*context_->queue, acceptRetryDelay);
    acceptRetry_->async_wait([this, listener](const asio::error_code& error) {
        if (!error && listener == listener_) acceptNext();
    });
}

void TransportServer::addSession(tcp::socket connection) {
    configureConnection(connection);
    auto session = std::make_shared<Session>(std::move(connection), context_);
    Session* key = session.get();
    session->setOnClose([this, key] { asio::post(*context_->queue, [this, key] { removeSession(key); }); });
    connections_.emplace(key, session);
    session->start();
    // Last: the owner may let go of the server from inside its callback.
    notifyConnections(connections_.size());
}

void TransportServer::removeSession(Session* session) {
    if (connections_.erase(session) == 0) return;
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
    auto sessions = std::move(connections_);
    connections_.clear();
    for (auto& [key, session] : sessions) session->close();
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
