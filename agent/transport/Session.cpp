#include "agent/transport/Session.h"

#include <atomic>

#include <asio/post.hpp>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "protocol/Base64URL.h"
#include "protocol/HandshakeMessages.h"
#include "protocol/KxSec.h"
#include "protocol/ProtocolVersion.h"

namespace kx {

namespace {
constexpr std::size_t signatureLength = 64;
// Frames handed to the socket in one write at most.
constexpr std::size_t maxFramesPerWrite = 64;

std::uint64_t nextConnectionID() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

std::string addressText(const asio::ip::tcp::socket& connection) {
    asio::error_code error;
    auto address = connection.remote_endpoint(error).address();
    if (error) return "unknown";
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

const WireError& malformedFrame() {
    static const WireError error(ErrorCode::invalidParams, "Malformed frame");
    return error;
}
}  // namespace

Session::Session(asio::ip::tcp::socket connection, std::shared_ptr<SessionContext> context)
    : connection_(std::move(connection)),
      context_(std::move(context)),
      connectionID_(nextConnectionID()),
      handshakeLimit_(connection_.get_executor()),
      stallLimit_(connection_.get_executor()),
      accumulator_(static_cast<std::uint32_t>(SecureChannel::maxFrame)),
      peerAddress_(addressText(connection_)),
      lanes_(std::make_shared<SessionLanes>(
          context_->workers, [router = context_->router, id = connectionID_] { router->connectionClosed(id); })) {}

void Session::start() {
    handshake_ = std::make_shared<const Handshake>(HandshakeRole::agent);
    phase_ = Phase::awaitingAuth;
    // Large reads go to the shared buffer, which is only borrowed for a moment.
    asio::error_code ignored;
    connection_.non_blocking(true, ignored);
    armHandshakeLimit();
    sendHello();
    readNext();
}

void Session::armHandshakeLimit() {
    handshakeLimit_.expires_after(context_->handshakeTimeout);
    handshakeLimit_.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        if (error) return;
        if (auto self = weak.lock(); self && self->phase_ == Phase::awaitingAuth) self->close();
    });
}

void Session::sendHello() {
    SecHello hello;
    hello.ephPub = handshake_->ephemeralPublicBase64URL();
    hello.nonce = handshake_->nonceBase64URL();
    hello.pairing = context_->pairing->isPairing();
    hello.protocolVersions.assign(ProtocolVersion::supported.begin(), ProtocolVersion::supported.end());
    try {
        write(FrameAccumulator::frame(asBytes(hello.encode())));
    } catch (...) {
        close();
    }
}

// A small read into the session's own buffer: the reactor reads as the data arrives, with no
// system call to arm the wait (a readiness wait costs one each time) and none that finds nothing.
void Session::readNext() {
    connection_.async_read_some(asio::buffer(firstRead_),
                                [weak = weak_from_this()](const asio::error_code& error, std::size_t count) {
                                    if (auto self = weak.lock()) self->onFirstRead(error, count);
                                });
}

void Session::onFirstRead(const asio::error_code& error, std::size_t count) {
    if (phase_ == Phase::closed) return;
    if (error) return close();  // end of stream included
    const bool outermost = !corked_;
    corked_ = true;
    ingest(ByteView(firstRead_.data(), count));
    // A full buffer: more may be waiting in the socket. Otherwise the answers leave before the next
    // read is queued (the reactor tries that read at once).
    if (count == firstRead_.size()) {
        readAvailable({});
    } else {
        flush();
        waitForMore();
    }
    if (!outermost) return;
    corked_ = false;
    flush();
}

// Over its limits the session waits for nothing: an answer or a write that drains it reads again.
void Session::waitForMore() {
    if (phase_ == Phase::closed) return;
    if (isOverLimits()) {
        readPaused_ = true;
        return;
    }
    readNext();
}

// The answers to what one read brought are written together, before the next read: one write
// for a batch of requests, and no wait on a read that finds nothing.
void Session::onReadable(const asio::error_code& error) {
    const bool outermost = !corked_;
    corked_ = true;
    readAvailable(error);
    if (!outermost) return;
    corked_ = false;
    flush();
}

void Session::flush() {
    if (phase_ != Phase::closed && !isWriting_ && outboundHead_ < outbound_.size()) writeNext();
}

void Session::readAvailable(const asio::error_code& error) {
    if (phase_ == Phase::closed) return;
    if (error) return close();
    // The socket is read until a read comes back short (the reactor reports later data itself); a
    // busy connection yields the thread to the others now and then.
    handleUnread();
    Bytes& buffer = context_->readBuffer;
    for (int turn = 0; turn < readsPerTurn; ++turn) {
        if (phase_ == Phase::closed) return;
        if (isOverLimits()) {
            readPaused_ = true;
            return;
        }
        asio::error_code readError;
        std::size_t count = connection_.read_some(asio::buffer(buffer.data(), maxRead), readError);
        if (readError == asio::error::would_block || readError == asio::error::try_again) return readNext();
        if (readError) return close();  // end of stream included
        ingest(ByteView(buffer.data(), count));
        flush();
        if (count < maxRead) return waitForMore();
    }
    if (phase_ == Phase::closed) return;
    asio::post(*context_->queue, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->onReadable({});
    });
}

// Frames are handled where they lie in the accumulator; only those the session cannot take yet
// (over its limits, or behind others waiting) are copied aside.
void Session::ingest(ByteView data) {
    fastPathTaken_ = false;
    accumulator_.append(data);
    try {
        while (auto body = accumulator_.next()) {
            if (unreadHead_ < unread_.size() || isOverLimits())
                unread_.emplace_back(body->begin(), body->end());
            else if (!handleFrame(*body))
                return;
        }
    } catch (const FrameAccumulator::Failure&) {
        return close();
    }
}

bool Session::handleFrame(ByteView body) {
    // The phase is read again for every frame: the first one may complete the handshake.
    if (phase_ == Phase::awaitingAuth) {
        authenticate(body);
        return phase_ != Phase::closed;
    }
    return phase_ == Phase::established && handleSealedFrame(body);
}

void Session::handleUnread() {
    while (unreadHead_ < unread_.size() && !isOverLimits()) {
        Bytes body = std::move(unread_[unreadHead_++]);
        if (unreadHead_ == unread_.size()) {
            unread_.clear();
            unreadHead_ = 0;
        }
        if (!handleFrame(body)) return;
    }
}

bool Session::isOverLimits() const {
    return authenticating_ || inFlight_ >= context_->limits.maxRequestsInFlight ||
           queuedBytes_ >= context_->limits.maxQueuedBytes;
}

void Session::resumeReading() {
    if (!readPaused_ || phase_ == Phase::closed || isOverLimits()) return;
    readPaused_ = false;
    onReadable({});
}

// The handshake's crypto (the agreement, the device's signature and the agent's) runs on the
// worker pool, so that handshakes use every core and never hold up the other sessions. The session
// reads nothing more until the outcome is back on the queue.
void Session::authenticate(ByteView body) {
    authenticating_ = true;
    context_->workers->post(
        [weak = weak_from_this(), context = context_, handshake = handshake_, text = std::string(asText(body))] {
            auto admission = std::make_shared<std::optional<Admission>>();
            try {
                *admission = admit(*context, *handshake, text);
            } catch (...) {
                // Malformed, or a key that does not agree: the session is closed.
            }
            asio::post(*context->queue, [weak, admission] {
                if (auto self = weak.lock()) self->onAdmitted(std::move(*admission));
            });
        });
}

std::optional<Session::Admission> Session::admit(const SessionContext& context, const Handshake& handshake,
                                                 const std::string& text) {
    SecAuth auth = SecAuth::decode(text);
    Admission admission{handshake.complete(auth.ephPub, auth.nonce, auth.protocolVersions), std::nullopt, {}};
    if (auth.deviceId) {
        if (!verifyDevice(context, *auth.deviceId, auth.sig, admission.result.transcript)) return std::nullopt;
        admission.deviceID = auth.deviceId;
    }
    Signature64 signature = context.identity.sign(admission.result.transcript);
    try {
        admission.reply = Envelope::success("sec.auth", authReply(context, signature)).encode();
    } catch (...) {
        // A reply that cannot be encoded is not sent; the session goes on.
    }
    return admission;
}

void Session::onAdmitted(std::optional<Admission> admission) {
    authenticating_ = false;
    if (phase_ != Phase::awaitingAuth) return;  // closed meanwhile (the handshake's time ran out)
    try {
        if (!admission) return close();
        if (admission->deviceID) {
            deviceID_ = admission->deviceID;
            isAuthenticated_ = true;
            context_->lastSeen->record(*deviceID_, std::chrono::system_clock::now());
        } else if (auto window = context_->pairing->openWindow()) {
            pairingWindow_ = window;
        } else {
            return close();
        }
        handshake_.reset();
        channel_ = std::move(admission->result.channel);
        phase_ = Phase::established;
        handshakeLimit_.cancel();
        if (!admission->reply.empty()) sendText(admission->reply);
    } catch (...) {
        return close();
    }
    if (auto onEstablished = std::move(onEstablished_)) {
        onEstablished_ = nullptr;
        onEstablished();
    }
    // Frames that came behind the phone's authentication.
    handleUnread();
    resumeReading();
}

bool Session::verifyDevice(const SessionContext& context, const std::string& deviceID,
                           const std::optional<std::string>& signature, const Key32& transcript) {
    std::optional<PairedDevice> device = context.registry->device(deviceID);
    if (!device) return false;
    std::optional<Key32> key = device->signingKey();
    if (!key || !signature) return false;
    std::optional<Bytes> signatureBytes = base64URLDecode(*signature);
    if (!signatureBytes || signatureBytes->size() != signatureLength) return false;
    return KxSec::verify(*signatureBytes, transcript, *key);
}

JSONObject Session::authReply(const SessionContext& context, const Signature64& signature) {
    JSONObject reply{
        {"agentPubKey", context.agentPublicKeyText},   {"sig", base64URLEncode(signature)},
        {"agent", context.agentInfo.toJSON()},         {"protocol", ProtocolVersion::current},
        {"caps", context.router->capabilityStrings()},
    };
    if (auto unavailable = context.router->unavailableWire()) reply.emplace("unavailable", std::move(*unavailable));
    return reply;
}

bool Session::handleSealedFrame(ByteView body) {
    Bytes& plaintext = context_->plaintext;
    try {
        channel_->open(body, plaintext);
    } catch (...) {
        close();
        return false;
    }
    dispatch(asText(plaintext));
    return true;
}

// The envelope is decoded here, in frame order, because its lane must be fixed in the order the
// requests arrived; the authentication snapshot is taken here for the same reason. Decoding on the
// queue costs a single phone less than an ordered decoding step on the workers would: that step
// adds a worker hop to every request.
void Session::dispatch(std::string_view plaintext) {
    Envelope request;
    std::optional<std::string> lane;
    try {
        request = Envelope::decode(plaintext);
        request.validate();
        lane = context_->router->lane(request);
    } catch (...) {
        sendText(Envelope::failure("?", malformedFrame()).encode());
        return;
    }
    RequestContext snapshot{deviceID_, isAuthenticated_, connectionID_};
    snapshot.peerAddress = peerAddress_;
    const CommandRouter& router = *context_->router;
    if (router.isImmediate(request)) return sendAnswer(request.id.value_or("?"), answerTo(request, router, snapshot));
    // One fast path per read: a batch of pipelined moves goes to the workers after the first, so
    // that one phone cannot hold the queue that every session shares for long.
    if (!fastPathTaken_)
        if (auto answer = lanes_->tryHere(lane, [&] { return router.tryFastPath(request, snapshot); })) {
            fastPathTaken_ = true;
            return sendAnswer(request.id.value_or("?"), encoded(*answer));
        }
    ++inFlight_;
    lanes_->post(lane, [weak = weak_from_this(), context = context_, request = std::move(request), snapshot] {
        std::string id = request.id.value_or("?");
        std::string answer = answerTo(request, *context->router, snapshot);
        asio::post(*context->queue, [weak, id = std::move(id), answer = std::move(answer)] {
            if (auto self = weak.lock()) self->onAnswered(id, answer);
        });
    });
}

std::string Session::answerTo(const Envelope& request, const CommandRouter& router, const RequestContext& snapshot) {
    return encoded(router.dispatch(request, snapshot));
}

std::string Session::encoded(const Envelope& answer) {
    try {
        return answer.encode();
    } catch (...) {
        // A result the encoder refuses (text that is not UTF-8, say): the phone still hears back.
        return Envelope::failure(answer.id.value_or("?"), WireError::internalError()).encode();
    }
}

void Session::onAnswered(const std::string& id, const std::string& answer) {
    --inFlight_;
    sendAnswer(id, answer);
    resumeReading();
}

void Session::sendAnswer(const std::string& id, const std::string& answer) {
    if (phase_ != Phase::established || sendText(answer)) return;
    static const WireError tooLarge(ErrorCode::unsupported, "The answer is too large to send");
    sendText(Envelope::failure(id, tooLarge).encode());
}

void Session::send(const Envelope& envelope) {
    if (phase_ != Phase::established) return;
    try {
        sendText(envelope.encode());
    } catch (...) {
        // An envelope that cannot be encoded is dropped; the session goes on.
    }
}

void Session::pushEvent(const std::string& event, const JSONObject& params) {
    ++eventSequence_;
    // Only a paired device hears events; a phone that is still pairing learns nothing from them.
    // A phone that does not take its output misses events (the gap shows in the sequence numbers).
    if (!isAuthenticated_ || queuedBytes_ >= context_->limits.maxQueuedBytes) return;
    send(Envelope::event(event, static_cast<std::uint64_t>(eventSequence_), params));
}

bool Session::sendText(const std::string& text) {
    if (phase_ != Phase::established) return false;
    try {
        Bytes frame = context_->frames.take();
        channel_->seal(asBytes(text), frame);
        write(std::move(frame));
        return true;
    } catch (const SecureChannel::Failure&) {
        // Too large or out of nonces: this one message is dropped.
        return false;
    }
}

void Session::write(Bytes frame) {
    if (queuedBytes_ == 0) lastProgress_ = std::chrono::steady_clock::now();
    queuedBytes_ += frame.size();
    outbound_.push_back(std::move(frame));
    armStallLimit();
    if (!isWriting_ && !corked_) writeNext();
}

// Writes what the socket takes now, at once, and waits for it to take more only when it is full:
// an answer then needs no completion handler of its own nor another turn of the reactor. Each
// write is progress the stall limit counts.
void Session::writeNext() {
    while (outboundHead_ < outbound_.size()) {
        std::vector<asio::const_buffer> buffers;
        std::size_t end = std::min(outbound_.size(), outboundHead_ + maxFramesPerWrite);
        buffers.reserve(end - outboundHead_);
        for (std::size_t index = outboundHead_; index < end; ++index)
            buffers.push_back(asio::buffer(outbound_[index]) + (index == outboundHead_ ? outboundOffset_ : 0));
        asio::error_code error;
        std::size_t count = connection_.write_some(buffers, error);
        if (error == asio::error::would_block || error == asio::error::try_again) {
            waitUntilWritable();
            break;
        }
        if (error) return close();
        takeWritten(count);
    }
    // Reading that waited for the output to drain goes on in a turn of its own: this write may
    // have been made from inside a read.
    if (readPaused_)
        asio::post(*context_->queue, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->resumeReading();
        });
}

void Session::waitUntilWritable() {
    isWriting_ = true;
    connection_.async_wait(asio::socket_base::wait_write, [weak = weak_from_this()](const asio::error_code& error) {
        auto self = weak.lock();
        if (!self) return;
        self->isWriting_ = false;
        if (self->phase_ == Phase::closed) return;
        if (error) return self->close();
        self->writeNext();
    });
}

void Session::takeWritten(std::size_t count) {
    lastProgress_ = std::chrono::steady_clock::now();
    queuedBytes_ -= count;
    count += outboundOffset_;
    while (outboundHead_ < outbound_.size() && count >= outbound_[outboundHead_].size()) {
        count -= outbound_[outboundHead_].size();
        context_->frames.give(std::move(outbound_[outboundHead_++]));
    }
    outboundOffset_ = count;
    if (outboundHead_ == outbound_.size()) {
        outbound_.clear();
        outboundHead_ = 0;
    } else if (outboundHead_ >= maxFramesPerWrite) {
        // Written frames are let go of in batches; the buffers of those still queued do not move.
        outbound_.erase(outbound_.begin(), outbound_.begin() + static_cast<std::ptrdiff_t>(outboundHead_));
        outboundHead_ = 0;
    }
}

void Session::armStallLimit() {
    if (stallArmed_) return;
    stallArmed_ = true;
    stallLimit_.expires_at(lastProgress_ + context_->limits.stallTimeout);
    stallLimit_.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        if (auto self = weak.lock()) self->onStallCheck(error);
    });
}

void Session::onStallCheck(const asio::error_code& error) {
    stallArmed_ = false;
    if (error || phase_ == Phase::closed || queuedBytes_ == 0) return;
    if (std::chrono::steady_clock::now() - lastProgress_ >= context_->limits.stallTimeout) return close();
    armStallLimit();
}

void Session::close() {
    if (phase_ == Phase::closed) return;
    phase_ = Phase::closed;
    handshake_.reset();
    channel_.reset();
    unread_.clear();
    unreadHead_ = 0;
    outbound_.clear();
    handshakeLimit_.cancel();
    stallLimit_.cancel();
    lanes_->close();
    asio::error_code ignored;
    connection_.close(ignored);
    onEstablished_ = nullptr;
    if (auto onClose = std::move(onClose_)) {
        onClose_ = nullptr;
        onClose();
    }
}

}  // namespace kx
