#include "agent/transport/Session.h"

#include <asio/post.hpp>
#include <asio/write.hpp>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "protocol/Base64URL.h"
#include "protocol/HandshakeMessages.h"
#include "protocol/KxSec.h"
#include "protocol/ProtocolVersion.h"

namespace kx {

namespace {
constexpr std::size_t signatureLength = 64;

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
      handshakeLimit_(connection_.get_executor()),
      accumulator_(static_cast<std::uint32_t>(SecureChannel::maxFrame)),
      peerAddress_(addressText(connection_)) {}

void Session::start() {
    handshake_.emplace(HandshakeRole::agent);
    phase_ = Phase::awaitingAuth;
    // Reads are driven by readiness so that the shared buffer is only borrowed for a moment.
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

void Session::readNext() {
    connection_.async_wait(asio::ip::tcp::socket::wait_read, [weak = weak_from_this()](const asio::error_code& error) {
        if (auto self = weak.lock()) self->onReadable(error);
    });
}

void Session::onReadable(const asio::error_code& error) {
    if (phase_ == Phase::closed) return;
    if (error) return close();
    // The queue's reactor reports readiness on edges only, so the socket is read until it is empty
    // before waiting again; a busy connection yields the thread to the others now and then.
    Bytes& buffer = context_->readBuffer;
    for (int turn = 0; turn < readsPerTurn; ++turn) {
        asio::error_code readError;
        std::size_t count = connection_.read_some(asio::buffer(buffer.data(), maxRead), readError);
        if (readError == asio::error::would_block || readError == asio::error::try_again) return readNext();
        if (readError) return close();  // end of stream included
        ingest(ByteView(buffer.data(), count));
        if (phase_ == Phase::closed) return;
    }
    asio::post(*context_->queue, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->onReadable({});
    });
}

void Session::ingest(ByteView data) {
    accumulator_.append(data);
    std::vector<Bytes> frames;
    try {
        frames = accumulator_.drain();
    } catch (const FrameAccumulator::Failure&) {
        return close();
    }
    // The phase is read again for every frame: the first one may complete the handshake.
    for (const Bytes& body : frames) {
        if (phase_ == Phase::awaitingAuth)
            authenticate(body);
        else if (phase_ != Phase::established || !handleSealedFrame(body))
            return;
    }
}

void Session::authenticate(ByteView body) {
    try {
        SecAuth auth = SecAuth::decode(asText(body));
        HandshakeResult result = handshake_->complete(auth.ephPub, auth.nonce, auth.protocolVersions);
        if (auth.deviceId) {
            if (!verifyDevice(*auth.deviceId, auth.sig, result.transcript)) return close();
            deviceID_ = auth.deviceId;
            isAuthenticated_ = true;
            context_->lastSeen->record(*deviceID_, std::chrono::system_clock::now());
        } else if (auto window = context_->pairing->openWindow()) {
            pairingWindow_ = window;
        } else {
            return close();
        }
        handshake_.reset();
        channel_ = std::move(result.channel);
        phase_ = Phase::established;
        handshakeLimit_.cancel();
        Signature64 signature = context_->identity.sign(result.transcript);
        send(Envelope::success("sec.auth", authReply(signature)));
    } catch (...) {
        return close();
    }
    if (auto onEstablished = std::move(onEstablished_)) {
        onEstablished_ = nullptr;
        onEstablished();
    }
}

bool Session::verifyDevice(const std::string& deviceID, const std::optional<std::string>& signature,
                           const Key32& transcript) const {
    std::optional<PairedDevice> device = context_->registry->device(deviceID);
    if (!device) return false;
    std::optional<Key32> key = device->signingKey();
    if (!key || !signature) return false;
    std::optional<Bytes> signatureBytes = base64URLDecode(*signature);
    if (!signatureBytes || signatureBytes->size() != signatureLength) return false;
    return KxSec::verify(*signatureBytes, transcript, *key);
}

JSONObject Session::authReply(const Signature64& signature) const {
    JSONObject reply{
        {"agentPubKey", context_->agentPublicKeyText},   {"sig", base64URLEncode(signature)},
        {"agent", context_->agentInfo.toJSON()},         {"protocol", ProtocolVersion::current},
        {"caps", context_->router->capabilityStrings()},
    };
    if (auto unavailable = context_->router->unavailableWire()) reply.emplace("unavailable", std::move(*unavailable));
    return reply;
}

bool Session::handleSealedFrame(ByteView body) {
    Bytes plaintext;
    try {
        plaintext = channel_->open(body);
    } catch (...) {
        close();
        return false;
    }
    dispatch(std::string(asText(plaintext)));
    return true;
}

// The envelope is decoded on the worker too: the queue only opens and seals, which keeps it free
// for every other connection. The authentication snapshot is still taken here, in frame order.
void Session::dispatch(std::string plaintext) {
    RequestContext snapshot{deviceID_, isAuthenticated_};
    snapshot.peerAddress = peerAddress_;
    context_->workers->post([weak = weak_from_this(), context = context_, plaintext = std::move(plaintext), snapshot] {
        if (weak.expired()) return;
        std::string answer = answerTo(plaintext, *context->router, snapshot);
        asio::post(*context->queue, [weak, answer = std::move(answer)] {
            if (auto self = weak.lock()) self->sendText(answer);
        });
    });
}

std::string Session::answerTo(std::string_view plaintext, const CommandRouter& router, const RequestContext& snapshot) {
    Envelope request;
    try {
        request = Envelope::decode(plaintext);
        request.validate();
    } catch (...) {
        return Envelope::failure("?", malformedFrame()).encode();
    }
    return router.dispatch(request, snapshot).encode();
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
    if (!isAuthenticated_) return;
    send(Envelope::event(event, static_cast<std::uint64_t>(eventSequence_), params));
}

void Session::sendText(const std::string& text) {
    if (phase_ != Phase::established) return;
    try {
        write(channel_->seal(asBytes(text)));
    } catch (const SecureChannel::Failure&) {
        // Too large or out of nonces: this one message is dropped.
    }
}

void Session::write(Bytes frame) {
    queued_.push_back(std::move(frame));
    if (writing_.empty()) writeQueued();
}

void Session::writeQueued() {
    writing_.swap(queued_);
    std::vector<asio::const_buffer> buffers;
    buffers.reserve(writing_.size());
    for (const Bytes& frame : writing_) buffers.push_back(asio::buffer(frame));
    asio::async_write(connection_, buffers, [weak = weak_from_this()](const asio::error_code& error, std::size_t) {
        auto self = weak.lock();
        if (!self) return;
        self->writing_.clear();
        if (error) return self->close();
        if (!self->queued_.empty() && self->phase_ != Phase::closed) self->writeQueued();
    });
}

void Session::close() {
    if (phase_ == Phase::closed) return;
    phase_ = Phase::closed;
    handshake_.reset();
    channel_.reset();
    queued_.clear();
    handshakeLimit_.cancel();
    asio::error_code ignored;
    connection_.close(ignored);
    onEstablished_ = nullptr;
    if (auto onClose = std::move(onClose_)) {
        onClose_ = nullptr;
        onClose();
    }
}

}  // namespace kx
