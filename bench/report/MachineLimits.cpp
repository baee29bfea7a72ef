#include "bench/report/MachineLimits.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sodium.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <stdexcept>
#include <vector>

#include "agent/transport/CommandRouter.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/KxSec.h"
#include "protocol/SecureChannel.h"

namespace kx::bench {

namespace {

using Clock = std::chrono::steady_clock;

void noDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool sendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool receiveAll(int fd, std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t got = ::recv(fd, data, size, 0);
        if (got <= 0) return false;
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

double threadCPUSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Runs `round` over and over on this thread for `length` of its own CPU time; returns rounds per
// CPU second. CPU time rather than wall time: other processes' load takes wall time, not work.
template <class Round>
double roundsPerCPUSecond(std::chrono::milliseconds length, Round round) {
    const double seconds = std::chrono::duration<double>(length).count();
    const double started = threadCPUSeconds();
    long rounds = 0;
    double spent = 0;
    do {
        round();
        ++rounds;
        spent = threadCPUSeconds() - started;
    } while (spent < seconds);
    return static_cast<double>(rounds) / spent;
}

}  // namespace

LoopbackEcho::LoopbackEcho(std::size_t messageSize) : size_(messageSize) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("loopback listener");
    client_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(client_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("loopback connect");
    noDelay(client_);
    int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    if (accepted < 0) throw std::runtime_error("loopback accept");
    noDelay(accepted);
    server_ = std::thread([accepted, size = size_] {
        std::vector<std::uint8_t> message(size);
        while (receiveAll(accepted, message.data(), size) && sendAll(accepted, message.data(), size)) {
        }
        ::close(accepted);
    });
}

LoopbackEcho::~LoopbackEcho() {
    ::shutdown(client_, SHUT_RDWR);
    server_.join();
    ::close(client_);
}

double LoopbackEcho::roundTrip() {
    std::vector<std::uint8_t> message(size_, 0x61);
    auto started = Clock::now();
    if (!sendAll(client_, message.data(), size_) || !receiveAll(client_, message.data(), size_))
        throw std::runtime_error("loopback echo ended");
    return std::chrono::duration<double, std::micro>(Clock::now() - started).count();
}

double handshakeCryptoPerSecond(int cores, std::chrono::milliseconds length) {
    KxSec::ensureInitialized();
    std::uint8_t phoneSign[crypto_sign_SECRETKEYBYTES], phoneVerify[crypto_sign_PUBLICKEYBYTES];
    std::uint8_t agentSign[crypto_sign_SECRETKEYBYTES], agentVerify[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_keypair(phoneVerify, phoneSign);
    crypto_sign_keypair(agentVerify, agentSign);
    return cores * roundsPerCPUSecond(length, [&] {
               std::uint8_t phoneSecret[32], phonePublic[32], agentSecret[32], agentPublic[32], shared[32];
               std::uint8_t transcript[32], phoneSignature[64], agentSignature[64];
               randombytes_buf(transcript, sizeof transcript);
               // Each side makes its ephemeral key and agrees on the secret with the other's.
               randombytes_buf(agentSecret, sizeof agentSecret);
               crypto_scalarmult_base(agentPublic, agentSecret);
               randombytes_buf(phoneSecret, sizeof phoneSecret);
               crypto_scalarmult_base(phonePublic, phoneSecret);
               bool ok = crypto_scalarmult(shared, phoneSecret, agentPublic) == 0;
               ok &= crypto_scalarmult(shared, agentSecret, phonePublic) == 0;
               // The phone signs, the agent verifies and signs, the phone verifies.
               crypto_sign_detached(phoneSignature, nullptr, transcript, sizeof transcript, phoneSign);
               ok &= crypto_sign_verify_detached(phoneSignature, transcript, sizeof transcript, phoneVerify) == 0;
               crypto_sign_detached(agentSignature, nullptr, transcript, sizeof transcript, agentSign);
               ok &= crypto_sign_verify_detached(agentSignature, transcript, sizeof transcript, agentVerify) == 0;
               if (!ok) throw std::runtime_error("handshake crypto failed");
           });
}

SealOpenCost sealOpenNanoseconds(std::size_t size, std::chrono::milliseconds length) {
    constexpr int rounds = 20;
    const Key32 key{1, 2, 3};
    const Bytes payload(size, 0x61);
    Bytes sealed(size + crypto_aead_chacha20poly1305_ietf_ABYTES), opened(size);
    std::uint64_t counter = 0;
    auto raw = [&] {
        const auto nonce = SecureChannel::nonce(counter++);
        unsigned long long written = 0;
        crypto_aead_chacha20poly1305_ietf_encrypt(sealed.data(), &written, payload.data(), size, nullptr, 0, nullptr,
                                                  nonce.data(), key.data());
        if (crypto_aead_chacha20poly1305_ietf_decrypt(opened.data(), &written, nullptr, sealed.data(), sealed.size(),
                                                      nullptr, 0, nonce.data(), key.data()) != 0)
            throw std::runtime_error("tag did not verify");
    };
    SecureChannel sender(key, key), receiver(key, key);
    Bytes frame, plaintext;
    auto channel = [&] {
        sender.seal(payload, frame);
        receiver.open(ByteView(frame).subspan(FrameAccumulator::prefixLength), plaintext);
    };
    auto round = length / (2 * rounds);
    double rawRate = 0, channelRate = 0;
    for (int i = 0; i < rounds; ++i) {
        rawRate += roundsPerCPUSecond(round, raw);
        channelRate += roundsPerCPUSecond(round, channel);
    }
    return {1e9 * rounds / rawRate, 1e9 * rounds / channelRate};
}

double requestsPerSecondOneCore(std::chrono::milliseconds length) {
    CommandRouter router;
    router.registerMethod("agent.ping", std::nullopt, false, [](const JSONObject&, const RequestContext&) {
        return JSONObject{{"t", 1.0e12}};
    });
    const Key32 up{1}, down{2};
    SecureChannel phoneSend(up, down), agentReceive(down, up);
    Bytes request, answer, plaintext;
    const RequestContext context{"d_bench", true, 1};
    return roundsPerCPUSecond(length, [&] {
        phoneSend.seal(asBytes(Envelope::request("p", "agent.ping").encode()), request);
        agentReceive.open(ByteView(request).subspan(FrameAccumulator::prefixLength), plaintext);
        Envelope decoded = Envelope::decode(asText(plaintext));
        decoded.validate();
        auto lane = router.lane(decoded);
        agentReceive.seal(asBytes(router.dispatch(decoded, context).encode()), answer);
        phoneSend.open(ByteView(answer).subspan(FrameAccumulator::prefixLength), plaintext);
        if (lane || !Envelope::decode(asText(plaintext)).ok.value_or(false)) throw std::runtime_error("ping failed");
    });
}

}  // namespace kx::bench
