#include "client/ClientConnection.h"

#include "protocol/JSONValue.h"

namespace kx {

namespace {

std::string endpoint(const ConnectOptions& options) {
    return options.host + ":" + std::to_string(options.port);
}

template <typename Error>
std::exception_ptr failure(const std::string& message) {
    return std::make_exception_ptr(Error(message));
}

}  // namespace

ClientConnection::ClientConnection(ConnectOptions options)
    : options_(std::move(options)),
      work_(asio::make_work_guard(io_)),
      resolver_(io_),
      socket_(io_),
      deadline_(io_),
      handshake_(options_.client, options_.credentials, options_.pinnedFingerprint),
      thread_([this] { io_.run(); }) {}

ClientConnection::~ClientConnection() {
    close();
    asio::post(io_, [this] { io_.stop(); });
    work_.reset();
    thread_.join();
    // Anything still waiting learns that the client went away.
    std::map<std::string, std::promise<CallOutcome>> pending;
    {
        std::lock_guard guard(lock_);
        pending.swap(pending_);
    }
    for (auto& [id, promise] : pending) promise.set_value(CallOutcome::closed("the client was closed"));
}

void ClientConnection::open() {
    auto opened = opened_.get_future();
    asio::post(io_, [this] { start(); });
    opened.get();
}

void ClientConnection::start() {
    deadline_.expires_after(options_.timeout);
    deadline_.async_wait([this](const asio::error_code& error) {
        if (error || phase_ == Phase::established || phase_ == Phase::closed) return;
        terminate(failure<AgentUnreachable>("no handshake with " + endpoint(options_) + " within " +
                                            std::to_string(options_.timeout.count()) + " ms"),
                  "timed out");
    });
    resolver_.async_resolve(options_.host, std::to_string(options_.port),
                            [this](const asio::error_code& error, asio::ip::tcp::resolver::results_type results) {
                                if (phase_ == Phase::closed) return;
                                if (error) return onConnected(error);
                                asio::async_connect(socket_, results,
                                                    [this](const asio::error_code& e, const auto&) { onConnected(e); });
                            });
}

void ClientConnection::onConnected(const asio::error_code& error) {
    if (phase_ == Phase::closed) return;
    if (error) {
        terminate(failure<AgentUnreachable>("cannot reach the agent at " + endpoint(options_) + ": " + error.message()),
                  error.message());
        return;
    }
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    phase_ = Phase::awaitingHello;
    readMore();
}

void ClientConnection::readMore() {
    socket_.async_read_some(asio::buffer(readBuffer_),
                            [this](const asio::error_code& error, std::size_t count) { onRead(error, count); });
}

void ClientConnection::onRead(const asio::error_code& error, std::size_t count) {
    if (phase_ == Phase::closed) return;
    if (count > 0) {
        accumulator_.append(ByteView(readBuffer_.data(), count));
        std::vector<Bytes> frames;
        try {
            frames = accumulator_.drain();
        } catch (const FrameAccumulator::Failure&) {
            terminate(failure<ProtocolViolation>("the agent sent an oversized frame"),
                      "oversized frame from the agent");
            return;
        }
        for (const auto& body : frames) {
            if (phase_ == Phase::closed) return;
            handleFrame(body);
        }
    }
    if (phase_ == Phase::closed) return;
    if (error) return endOfStream(error == asio::error::eof ? "" : error.message());
    readMore();
}

void ClientConnection::handleFrame(const Bytes& body) {
    try {
        switch (phase_) {
            case Phase::awaitingHello: return handleHello(body);
            case Phase::awaitingReply: return handleReply(body);
            case Phase::established: return handleEnvelope(body);
            case Phase::connecting:
            case Phase::closed: return;
        }
    } catch (const ClientError& error) {
        terminate(std::current_exception(), error.what());
    }
}

void ClientConnection::handleHello(const Bytes& body) {
    auto answer = handshake_.answerHello(body);
    channel_ = std::move(answer.channel);
    phase_ = Phase::awaitingReply;
    write(std::move(answer.secAuthFrame));
}

void ClientConnection::handleReply(const Bytes& body) {
    Envelope reply;
    try {
        reply = Envelope::decode(asText(channel_->open(body)));
    } catch (const std::exception& error) {
        throw ProtocolViolation(std::string("cannot read the agent's handshake reply: ") + error.what());
    }
    auth_ = handshake_.acceptReply(reply);
    phase_ = Phase::established;
    deadline_.cancel();
    openSettled_ = true;
    opened_.set_value();
}

void ClientConnection::handleEnvelope(const Bytes& body) {
    Bytes plaintext;
    try {
        plaintext = channel_->open(body);
    } catch (const SecureChannel::Failure&) {
        // The stream can no longer be trusted or followed.
        throw ConnectionClosed("a frame from the agent failed authentication; connection dropped");
    }
    Envelope envelope;
    try {
        envelope = Envelope::decode(asText(plaintext));
        envelope.validate();
    } catch (const std::exception&) {
        return;  // one unreadable message does not end the session
    }
    if (envelope.t == MessageKind::response) deliverResponse(envelope);
    if (envelope.t == MessageKind::event) deliverEvent(envelope);
}

void ClientConnection::deliverResponse(const Envelope& response) {
    CallOutcome outcome;
    if (response.ok == true) {
        outcome.result = response.p.value_or(JSONObject{});
    } else {
        outcome.kind = CallOutcome::Kind::errorResponse;
        outcome.error = response.e.value_or(WireError());
    }
    settle(*response.id, std::move(outcome));
}

// Answers to abandoned requests, or to frames never sent, find no promise and are dropped.
void ClientConnection::settle(const std::string& id, CallOutcome outcome) {
    std::promise<CallOutcome> promise;
    {
        std::lock_guard guard(lock_);
        auto it = pending_.find(id);
        if (it == pending_.end()) return;
        promise = std::move(it->second);
        pending_.erase(it);
    }
    promise.set_value(std::move(outcome));
}

void ClientConnection::deliverEvent(const Envelope& event) {
    KxClient::EventHandler handler;
    {
        std::lock_guard guard(lock_);
        if (!eventHandler_) {
            // A reader that stopped listening must not grow the queue without bound.
            if (events_.size() == maxQueuedEvents) events_.pop_front();
            events_.push_back(event);
            eventsChanged_.notify_all();
            return;
        }
        handler = eventHandler_;
    }
    try {
        handler(event);
    } catch (...) {
        // A failing observer must not take the network thread down with it.
    }
}

void ClientConnection::write(Bytes frame) {
    writes_.push_back(std::move(frame));
    if (writes_.size() == 1) writeNext();
}

void ClientConnection::writeNext() {
    asio::async_write(socket_, asio::buffer(writes_.front()), [this](const asio::error_code& error, std::size_t) {
        if (phase_ == Phase::closed) return;
        if (error) return endOfStream(error.message());
        writes_.pop_front();
        if (!writes_.empty()) writeNext();
    });
}

std::pair<std::string, std::future<CallOutcome>> ClientConnection::send(const std::string& method,
                                                                        const JSONObject& params) {
    auto id = "r" + std::to_string(nextID_++);
    std::promise<CallOutcome> promise;
    auto future = promise.get_future();
    {
        std::lock_guard guard(lock_);
        if (closedReason_) throw ConnectionClosed(*closedReason_);
        pending_.emplace(id, std::move(promise));
    }
    asio::post(io_, [this, id, request = Envelope::request(id, method, params)] { sendRequest(id, request); });
    return {id, std::move(future)};
}

void ClientConnection::sendRequest(const std::string& id, const Envelope& request) {
    if (phase_ != Phase::established) return;  // closing already failed every pending request
    try {
        write(channel_->seal(asBytes(request.encode())));
    } catch (const std::exception& error) {
        settle(id,
               {CallOutcome::Kind::protocolViolation, {}, {}, std::string("cannot send the request: ") + error.what()});
    }
}

void ClientConnection::abandon(const std::string& id) {
    std::lock_guard guard(lock_);
    pending_.erase(id);
}

void ClientConnection::setEventHandler(KxClient::EventHandler handler) {
    std::lock_guard guard(lock_);
    eventHandler_ = std::move(handler);
}

std::optional<Envelope> ClientConnection::nextEvent(std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock_);
    eventsChanged_.wait_for(guard, timeout, [this] { return !events_.empty() || closedReason_; });
    if (!events_.empty()) {
        auto event = std::move(events_.front());
        events_.pop_front();
        return event;
    }
    if (closedReason_) throw ConnectionClosed(*closedReason_);
    return std::nullopt;
}

bool ClientConnection::isOpen() const {
    std::lock_guard guard(lock_);
    return !closedReason_;
}

void ClientConnection::close() {
    if (std::this_thread::get_id() == thread_.get_id()) {
        terminate(failure<ConnectionClosed>("the client was closed"), "the client closed the connection");
        return;
    }
    std::promise<void> done;
    auto closed = done.get_future();
    asio::post(io_, [this, &done] {
        terminate(failure<ConnectionClosed>("the client was closed"), "the client closed the connection");
        done.set_value();
    });
    closed.wait();
}

void ClientConnection::endOfStream(const std::string& detail) {
    const std::string suffix = detail.empty() ? "" : " (" + detail + ")";
    switch (phase_) {
        case Phase::awaitingHello:
        case Phase::awaitingReply:
            if (!options_.credentials)
                return terminate(failure<PairingRefused>("the agent closed the connection: the pairing code "
                                                         "expired, was used or was cancelled" +
                                                         suffix),
                                 "closed during the handshake");
            return terminate(failure<ConnectionClosed>("the agent closed the connection during the handshake: "
                                                       "this device is unknown to it or was revoked" +
                                                       suffix),
                             "closed during the handshake");
        default: return terminate(nullptr, "the agent closed the connection" + suffix);
    }
}

void ClientConnection::terminate(std::exception_ptr handshakeFailure, const std::string& reason) {
    if (phase_ == Phase::closed) return;
    phase_ = Phase::closed;
    asio::error_code ignored;
    resolver_.cancel();
    deadline_.cancel();
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    if (!openSettled_) {
        openSettled_ = true;
        opened_.set_exception(handshakeFailure ? handshakeFailure : failure<ConnectionClosed>(reason));
    }
    std::map<std::string, std::promise<CallOutcome>> pending;
    {
        std::lock_guard guard(lock_);
        closedReason_ = reason;
        pending.swap(pending_);
        eventsChanged_.notify_all();
    }
    for (auto& [id, promise] : pending) promise.set_value(CallOutcome::closed(reason));
}

}  // namespace kx
