#include "tests/e2e/support/RawPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "protocol/Base64URL.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/Handshake.h"
#include "protocol/ProtocolVersion.h"
#include "protocol/SecureChannel.h"

namespace kx::e2e {

RawPeer::RawPeer(std::uint16_t port) : frames_(SecureChannel::maxFrame) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "socket");
    sockaddr_in address{
        .sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        ::close(fd_);
        throw std::system_error(error, std::generic_category(), "connect");
    }
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

RawPeer::~RawPeer() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<Bytes> RawPeer::readFrame(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (pending_.empty() && !ended_) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{fd_, POLLIN, 0};
        if (left.count() <= 0) return std::nullopt;
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
        std::uint8_t chunk[65536];
        ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR) continue;
        ended_ = got <= 0;
        if (got > 0) frames_.append(ByteView(chunk, static_cast<std::size_t>(got)));
        for (auto& frame : frames_.drain()) pending_.push_back(std::move(frame));
    }
    if (pending_.empty()) return std::nullopt;
    Bytes body = std::move(pending_.front());
    pending_.pop_front();
    return body;
}

bool RawPeer::waitForClose(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!ended_ && std::chrono::steady_clock::now() < deadline)
        readFrame(std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
    return ended_;
}

void RawPeer::sendBytes(ByteView bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "send");
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::size_t RawPeer::sendWhileTaken(ByteView bytes, std::chrono::milliseconds stall) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        pollfd entry{fd_, POLLOUT, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(stall.count()));
        if (ready == 0) break;
        if (ready < 0 && errno == EINTR) continue;
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            throw std::system_error(errno, std::generic_category(), "send");
        }
        sent += static_cast<std::size_t>(n);
    }
    return sent;
}

void RawPeer::sendFrame(ByteView body) {
    sendBytes(FrameAccumulator::frame(body));
}

void RawPeer::sendSealed(std::string_view plaintext) {
    sendBytes(channel_->seal(asBytes(plaintext)));
}

void RawPeer::sendRequest(const std::string& id, const std::string& method, const JSONObject& params) {
    sendSealed(Envelope::request(id, method, params).encode());
}

void RawPeer::appendRequest(Bytes& batch, const std::string& id, const std::string& method, const JSONObject& params) {
    Bytes frame = channel_->seal(asBytes(Envelope::request(id, method, params).encode()));
    batch.insert(batch.end(), frame.begin(), frame.end());
}

SecHello RawPeer::readHello(std::chrono::milliseconds wait) {
    auto body = readFrame(wait);
    if (!body) throw std::runtime_error("no hello from the agent");
    return SecHello::decode(asText(*body));
}

SecAuth RawPeer::makeAuth(const SecHello& hello, const std::optional<std::string>& deviceID,
                          const std::optional<SigningKey>& deviceKey) {
    Handshake handshake(HandshakeRole::client);
    HandshakeResult result = handshake.complete(hello.ephPub, hello.nonce, hello.protocolVersions);
    channel_ = std::move(result.channel);
    SecAuth auth;
    auth.ephPub = handshake.ephemeralPublicBase64URL();
    auth.nonce = handshake.nonceBase64URL();
    auth.deviceId = deviceID;
    if (deviceKey) auth.sig = base64URLEncode(KxSec::sign(result.transcript, *deviceKey));
    auth.client = {"test phone", "kestrix-tests", "test"};
    auth.protocolVersions.assign(ProtocolVersion::supported.begin(), ProtocolVersion::supported.end());
    return auth;
}

std::optional<Envelope> RawPeer::handshake(const std::optional<std::string>& deviceID,
                                           const std::optional<SigningKey>& deviceKey, std::chrono::milliseconds wait) {
    SecHello hello = readHello(wait);
    sendFrame(asBytes(makeAuth(hello, deviceID, deviceKey).encode()));
    return readEnvelope(wait);
}

std::optional<Envelope> RawPeer::readEnvelope(std::chrono::milliseconds wait) {
    auto body = readFrame(wait);
    if (!body) return std::nullopt;
    Bytes plaintext = channel_->open(*body);
    return Envelope::decode(asText(plaintext));
}

std::optional<Envelope> RawPeer::call(const std::string& method, const JSONObject& params) {
    std::string id = "r" + std::to_string(nextID_++);
    sendRequest(id, method, params);
    for (;;) {
        auto envelope = readEnvelope();
        if (!envelope) return std::nullopt;
        if (envelope->t == MessageKind::response && envelope->id == id) return envelope;
    }
}

bool RawPeer::succeeds(const std::string& method, const JSONObject& params) {
    auto reply = call(method, params);
    return reply && reply->ok == true;
}

}  // namespace kx::e2e
