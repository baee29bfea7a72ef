#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "agent/transport/TransportServer.h"
#include "protocol/Base64URL.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/RawPeer.h"

using namespace kx;
using e2e::eventually;
using e2e::RawPeer;

namespace {

// A handler's way to hold its requests until the test lets them go.
struct Gate {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> entered{0};
    std::atomic<int> left{0};

    MethodHandler handler() {
        return [this](const JSONObject&, const RequestContext&) {
            ++entered;
            released.wait();
            ++left;
            return JSONObject{};
        };
    }
};

class SessionTest : public ::testing::Test {
protected:
    void start(SessionLimits limits = {}) {
        auto registry = std::make_shared<DeviceRegistry>();
        PairedDevice device;
        device.id = deviceID;
        device.name = "test phone";
        device.publicKey = base64URLEncode(key.publicKey);
        device.pairedAt = std::chrono::system_clock::now();
        registry->registerDevice(device);
        TransportServer::Options options;
        options.limits = limits;
        server =
            TransportServer::create(AgentIdentity::generate(), registry, std::make_shared<PairingService>(registry),
                                    router, {"host", "1", "linux", "os"}, options);
        server->start(std::nullopt, false);
    }

    std::unique_ptr<RawPeer> connect() {
        auto peer = std::make_unique<RawPeer>(server->state().port);
        if (!peer->handshake(deviceID, key)) throw std::runtime_error("handshake refused");
        return peer;
    }

    void registerMethod(const std::string& method, MethodHandler handler,
                        std::optional<OrderedTarget> target = std::nullopt) {
        router->registerMethod(method, std::nullopt, true, std::move(handler), std::move(target));
    }

    std::shared_ptr<CommandRouter> router = std::make_shared<CommandRouter>();
    std::string deviceID = "d_session";
    SigningKey key = SigningKey::generate();
    std::shared_ptr<TransportServer> server;
};

}  // namespace

TEST_F(SessionTest, AnswersThatCannotBeSentBecomeFailuresForTheirOwnRequest) {
    const std::string tooLarge(300000, 'a');
    const std::string notText = "\xff\xfe";
    registerMethod("test.answer", [](const JSONObject& params, const RequestContext&) {
        return JSONObject{{"text", params.at("text")}};
    });
    registerMethod("test.large", [&](const JSONObject&, const RequestContext&) {
        return JSONObject{{"text", tooLarge}};
    });
    registerMethod("test.notText", [&](const JSONObject&, const RequestContext&) {
        return JSONObject{{"text", notText}};
    });
    start();
    auto peer = connect();

    const std::vector<std::pair<std::string, WireError>> cases = {
        {"test.large", WireError(ErrorCode::unsupported, "The answer is too large to send")},
        {"test.notText", WireError::internalError()},
    };
    for (const auto& [method, expected] : cases) {
        auto answer = peer->call(method);
        ASSERT_TRUE(answer) << method << " was never answered";
        EXPECT_EQ(answer->ok, false) << method;
        EXPECT_EQ(answer->e, expected) << method;
    }
    // The session goes on.
    auto answer = peer->call("test.answer", {{"text", "still here"}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->ok, true);
}

TEST_F(SessionTest, ReadingStopsAtTheRequestLimitAndResumesAsAnswersGoOut) {
    constexpr int requests = 40;
    Gate gate;
    registerMethod("test.wait", gate.handler());
    SessionLimits limits;
    limits.maxRequestsInFlight = 8;  // below the 16 workers, so the pool is not what holds them
    start(limits);
    auto peer = connect();
    for (int i = 0; i < requests; ++i) peer->sendRequest("w" + std::to_string(i), "test.wait");

    ASSERT_TRUE(eventually([&] { return gate.entered.load() == 8; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // room for a ninth to show up
    EXPECT_EQ(gate.entered.load(), 8);

    gate.release.set_value();
    std::set<std::string> answered;
    while (answered.size() < requests) {
        auto answer = peer->readEnvelope();
        ASSERT_TRUE(answer) << answered.size() << " answered";
        answered.insert(answer->id.value_or("?"));
    }
    EXPECT_EQ(gate.entered.load(), requests);
}

TEST_F(SessionTest, APeerThatTakesNoneOfItsOutputIsClosedAfterTheStallLimit) {
    registerMethod("test.blob", [](const JSONObject&, const RequestContext&) {
        return JSONObject{{"blob", std::string(100000, 'x')}};
    });
    SessionLimits limits;
    limits.stallTimeout = std::chrono::milliseconds(300);
    start(limits);
    // Far more than the socket buffers and the byte limit hold together, and never read.
    auto peer = connect();
    for (int i = 0; i < 200; ++i) peer->sendRequest("b" + std::to_string(i), "test.blob");
    EXPECT_TRUE(eventually([&] { return server->connectionCount() == 0; }, std::chrono::seconds(10)));
}

TEST_F(SessionTest, TheRouterHearsOfAClosedSessionOnceAfterItsLastRequestEnded) {
    // Shared with the router, which outlives this body and hears of the last session's end later.
    struct Record {
        Gate gate;
        std::mutex lock;
        std::set<std::uint64_t> requestIDs;
        std::vector<std::pair<std::uint64_t, int>> closings;  // connection, requests that had ended
    };
    auto record = std::make_shared<Record>();
    registerMethod(
        "test.slow",
        [record](const JSONObject& params, const RequestContext& context) {
            {
                std::lock_guard guard(record->lock);
                record->requestIDs.insert(context.connectionID);
            }
            return record->gate.handler()(params, context);
        },
        OrderedTarget{"input", std::nullopt});
    router->addConnectionClosedObserver([record](std::uint64_t id) {
        std::lock_guard guard(record->lock);
        record->closings.emplace_back(id, record->gate.left.load());
    });
    start();

    auto peer = connect();
    for (int i = 0; i < 3; ++i) peer->sendRequest("s" + std::to_string(i), "test.slow");
    ASSERT_TRUE(eventually([&] { return record->gate.entered.load() == 1; }));
    peer.reset();
    ASSERT_TRUE(eventually([&] { return server->connectionCount() == 0; }));
    {
        std::lock_guard guard(record->lock);
        EXPECT_TRUE(record->closings.empty());
    }

    record->gate.release.set_value();
    ASSERT_TRUE(eventually([&] {
        std::lock_guard guard(record->lock);
        return !record->closings.empty();
    }));
    auto second = connect();
    ASSERT_TRUE(second->call("test.slow"));
    std::lock_guard guard(record->lock);
    ASSERT_EQ(record->requestIDs.size(), 2u);  // one per session
    EXPECT_EQ(record->requestIDs.count(0), 0u);
    ASSERT_EQ(record->closings.size(), 1u);
    EXPECT_EQ(record->closings[0], std::make_pair(*record->requestIDs.begin(), 3));
}
