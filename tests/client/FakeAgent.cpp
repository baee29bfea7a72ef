#include "tests/client/FakeAgent.h"

#include <chrono>

#include "protocol/Base64URL.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/Handshake.h"
#include "protocol/KxSec.h"
#include "protocol/Params.h"
#include "protocol/SecureChannel.h"

namespace kx::test {

struct FakeAgent::Connection {
    explicit Connection(asio::ip::tcp::socket s) : socket(std::move(s)) {}
    asio::ip::tcp::socket socket;
    FrameAccumulator accumulator{SecureChannel::maxFrame};
    std::unique_ptr<SecureChannel> channel;
    std::mutex writeLock;  // seals and writes happen together
    std::uint64_t eventSequence = 0;

    // Blocks for the next frame body; absent at the end of the stream.
    std::optional<Bytes> readFrame() {
        std::array<std::uint8_t, 4096> buffer{};
        for (;;) {
            auto frames = accumulator.drain();
            if (!frames.empty()) {
                // The fake reads one frame at a time: put the rest back in order.
                Bytes first = frames.front();
                for (std::size_t i = 1; i < frames.size(); ++i) accumulator.append(FrameAccumulator::frame(frames[i]));
                return first;
            }
            asio::error_code error;
            auto n = socket.read_some(asio::buffer(buffer), error);
            if (error) return std::nullopt;
            accumulator.append(ByteView(buffer.data(), n));
        }
    }
    void pushEvent(const std::string& method, const JSONObject& params) {
        std::lock_guard guard(writeLock);
        if (channel) sealAndWrite(Envelope::event(method, ++eventSequence, params));
    }
    void writeSealed(const Envelope& envelope) {
        std::lock_guard guard(writeLock);
        if (channel) sealAndWrite(envelope);
    }
    // The reply goes out before any event can take counter 0. An authenticated connection is
    // counted with its channel in place and before the phone has the reply, so that a test acting
    // on either sees it counted and loses no event pushed on seeing the count.
    void establish(std::unique_ptr<SecureChannel> newChannel, const Envelope& reply,
                   std::atomic<int>* authenticatedCount) {
        std::lock_guard guard(writeLock);
        channel = std::move(newChannel);
        if (authenticatedCount) ++*authenticatedCount;
        sealAndWrite(reply);
    }
    void sealAndWrite(const Envelope& envelope) {
        auto frame = channel->seal(asBytes(envelope.encode()));
        asio::error_code ignored;
        asio::write(socket, asio::buffer(frame), ignored);
    }
};

FakeAgent::FakeAgent(Behaviour behaviour)
    : behaviour_(std::move(behaviour)),
      identity_(AgentIdentity::generate()),
      acceptor_(io_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
    port_ = acceptor_.local_endpoint().port();
    acceptor_thread_ = std::thread([this] { acceptLoop(); });
}

FakeAgent::~FakeAgent() {
    stopping_ = true;
    asio::error_code ignored;
    {
        // Wake the accept loop with one last connection.
        asio::ip::tcp::socket poke(io_);
        poke.connect({asio::ip::make_address("127.0.0.1"), port_}, ignored);
    }
    acceptor_thread_.join();
    acceptor_.close(ignored);
    dropConnections();
    std::vector<std::thread> threads;
    {
        std::lock_guard guard(lock_);
        threads.swap(threads_);
    }
    for (auto& thread : threads) thread.join();
}

void FakeAgent::acceptLoop() {
    while (!stopping_) {
        asio::error_code error;
        asio::ip::tcp::socket socket(io_);
        acceptor_.accept(socket, error);
        if (error || stopping_) return;
        auto connection = std::make_shared<Connection>(std::move(socket));
        std::lock_guard guard(lock_);
        connections_.push_back(connection);
        threads_.emplace_back([this, connection] { serve(connection); });
    }
}

void FakeAgent::serve(std::shared_ptr<Connection> connection) {
    if (behaviour_.silent) {
        connection->readFrame();  // until the client gives up
        return;
    }
    if (!handshake(*connection)) {
        std::lock_guard guard(connection->writeLock);
        asio::error_code ignored;
        connection->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        return;
    }
    while (auto body = connection->readFrame()) {
        Envelope request;
        try {
            request = Envelope::decode(asText(connection->channel->open(*body)));
        } catch (const std::exception&) {
            return;
        }
        std::lock_guard guard(lock_);
        threads_.emplace_back([this, connection, request] { answer(connection, request); });
    }
}

bool FakeAgent::handshake(Connection& connection) {
    Handshake agent(HandshakeRole::agent);
    SecHello hello{agent.ephemeralPublicBase64URL(), agent.nonceBase64URL(), behaviour_.pairingOpen, {1}};
    auto helloFrame = FrameAccumulator::frame(asBytes(hello.encode()));
    asio::error_code error;
    asio::write(connection.socket, asio::buffer(helloFrame), error);
    auto body = connection.readFrame();
    if (error || !body) return false;
    auto auth = SecAuth::decode(asText(*body));
    auto result = agent.complete(auth.ephPub, auth.nonce, auth.protocolVersions);
    bool authenticated = false;
    {
        std::lock_guard guard(lock_);
        lastClient_ = auth.client;
        if (auth.deviceId) {
            auto known = devices_.find(*auth.deviceId);
            auto sig = auth.sig ? base64URLDecode(*auth.sig) : std::nullopt;
            auto key = known == devices_.end() ? std::nullopt : base64URLDecode(known->second);
            if (!sig || !key || !KxSec::verify(*sig, result.transcript, *key)) return false;
            authenticated = true;
        } else if (!behaviour_.pairingOpen) {
            return false;
        }
    }
    const auto& signer = behaviour_.signWith ? *behaviour_.signWith : identity_;
    const auto& presented = behaviour_.presentKey ? *behaviour_.presentKey : identity_;
    JSONObject p = {
        {"agentPubKey", base64URLEncode(presented.publicKey())},
        {"sig", base64URLEncode(signer.sign(result.transcript))},
        {"agent", JSONObject{{"name", "studio"}, {"version", "1.2.3"}, {"platform", "linux"}, {"os", "Linux 6"}}},
        {"protocol", 1},
        {"caps", JSONArray{"agent.update", "input.key"}}};
    connection.establish(std::move(result.channel), Envelope::success("sec.auth", p),
                         authenticated ? &authenticated_ : nullptr);
    return true;
}

void FakeAgent::answer(std::shared_ptr<Connection> connection, Envelope request) {
    const auto& params = request.p.value_or(JSONObject{});
    if (auto delay = params::number(params, "delayMs"))
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(*delay)));
    Envelope response;
    try {
        if (request.m == "pair.begin")
            response = Envelope::success(*request.id, pairBegin(params));
        else if (request.m == "fail")
            throw WireError(ErrorCode::targetNotFound, "No such thing");
        else if (request.m == "silence")
            return;
        else
            response = Envelope::success(*request.id, params);
    } catch (const WireError& error) {
        response = Envelope::failure(*request.id, error);
    }
    connection->writeSealed(response);
}

JSONObject FakeAgent::pairBegin(const JSONObject& params) {
    std::lock_guard guard(lock_);
    lastPairing_ = params;
    if (params::string(params, "token") != behaviour_.token)
        throw WireError(ErrorCode::unauthorized, "Pairing refused");
    auto key = params::string(params, "devicePubKey");
    if (!key) throw WireError(ErrorCode::invalidParams, "Missing pairing fields");
    std::string id = "d_" + std::to_string(devices_.size() + 1);
    devices_[id] = *key;
    return {{"deviceId", id}};
}

std::optional<JSONObject> FakeAgent::lastPairingRequest() const {
    std::lock_guard guard(lock_);
    return lastPairing_;
}

std::optional<ClientIdentity> FakeAgent::lastClient() const {
    std::lock_guard guard(lock_);
    return lastClient_;
}

void FakeAgent::addDevice(const std::string& id, const std::string& publicKey) {
    std::lock_guard guard(lock_);
    devices_[id] = publicKey;
}

void FakeAgent::push(const std::string& method, const JSONObject& params) {
    std::vector<std::shared_ptr<Connection>> connections;
    {
        std::lock_guard guard(lock_);
        connections = connections_;
    }
    for (auto& connection : connections) connection->pushEvent(method, params);
}

void FakeAgent::dropConnections() {
    std::lock_guard guard(lock_);
    for (auto& connection : connections_) {
        std::lock_guard writing(connection->writeLock);
        asio::error_code ignored;
        connection->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    }
}

}  // namespace kx::test
