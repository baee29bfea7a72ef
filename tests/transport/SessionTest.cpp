#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/support/Recorder.h"

using namespace kx;
using namespace kx::e2e;
using kx::testing::Recorder;

namespace {

// Holds its requests until the test lets them go.
struct Gate {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> entered{0};
    std::atomic<int> left{0};

    JSONObject pass() {
        ++entered;
        released.wait();
        ++left;
        return {};
    }
};

}  // namespace

TEST(Session, AnswersThatCannotBeSentBecomeFailuresForTheirOwnRequest) {
    const std::vector<std::tuple<std::string, std::string, WireError>> cases = {
        {"test.large", std::string(300000, 'a'), WireError(ErrorCode::unsupported, "The answer is too large to send")},
        {"test.notText", "\xff\xfe", WireError::internalError()},  // the encoder refuses what is not UTF-8
    };
    InProcessAgent agent({.startNow = false});
    for (const auto& [method, text, expected] : cases)
        agent.add(method, [text](const JSONObject&, const RequestContext&) { return JSONObject{{"text", text}}; });
    agent.start();
    auto peer = agent.connect(agent.addDevice());
    for (const auto& [method, text, expected] : cases) {
        auto answer = peer->call(method);
        ASSERT_TRUE(answer) << method << " was never answered";
        EXPECT_EQ(answer->e, expected) << method;
    }
    EXPECT_EQ(peer->call("agent.ping")->ok, true);  // the session goes on
}

TEST(Session, ReadingStopsAtTheRequestLimitAndResumesAsAnswersGoOut) {
    constexpr int requests = 40;
    Gate gate;
    // Below the worker count, so the pool is not what holds them.
    InProcessAgent agent({.sessionLimits = {.maxRequestsInFlight = 8}, .startNow = false});
    agent.add("test.wait", [&](const JSONObject&, const RequestContext&) { return gate.pass(); });
    agent.start();
    auto peer = agent.connect(agent.addDevice());
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
}

TEST(Session, APeerThatTakesNoneOfItsOutputIsClosedAfterTheStallLimit) {
    InProcessAgent agent({.sessionLimits = {.stallTimeout = std::chrono::milliseconds(300)}, .startNow = false});
    agent.add("test.blob", [](const JSONObject&, const RequestContext&) {
        return JSONObject{{"blob", std::string(100000, 'x')}};
    });
    agent.start();
    // Far more than the socket buffers and the byte limit hold together, and never read.
    auto peer = agent.connect(agent.addDevice());
    for (int i = 0; i < 200; ++i) peer->sendRequest("b" + std::to_string(i), "test.blob");
    EXPECT_TRUE(
        eventually([&] { return agent.service().transport().connectionCount() == 0; }, std::chrono::seconds(10)));
}

// Reading pauses while the peer's unread answers exceed the byte limit, and goes on as it drains.
TEST(Session, APeerThatReadsLateGetsEveryAnswer) {
    constexpr int requests = 500;  // 10 MB of answers, more than the socket buffers hold
    InProcessAgent agent({.sessionLimits = {.maxQueuedBytes = 256 * 1024}, .startNow = false});
    agent.add("test.blob", [](const JSONObject&, const RequestContext&) {
        return JSONObject{{"blob", std::string(20000, 'x')}};
    });
    agent.start();
    auto peer = agent.connect(agent.addDevice());
    for (int i = 0; i < requests; ++i) peer->sendRequest("b" + std::to_string(i), "test.blob");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the agent fills the socket and pauses
    for (int i = 0; i < requests; ++i) ASSERT_TRUE(peer->readEnvelope()) << i << " answered";
}

TEST(Session, TheRouterHearsOfAClosedSessionOnceAfterItsLastRequestEnded) {
    // Shared with the router, which hears of the last session's end after this body.
    struct Record {
        Gate gate;
        Recorder<std::uint64_t> requestConnections;
        Recorder<std::pair<std::uint64_t, int>> closings;  // connection, requests that had ended
    };
    auto record = std::make_shared<Record>();
    InProcessAgent agent({.startNow = false});
    agent.add(
        "test.slow",
        [record](const JSONObject&, const RequestContext& context) {
            record->requestConnections.record(context.connectionID);
            return record->gate.pass();
        },
        OrderedTarget{"test", std::nullopt});
    agent.service().router().addConnectionClosedObserver([record](std::uint64_t id) {
        record->closings.record({id, record->gate.left.load()});
    });

    agent.start();
    const TestDevice device = agent.addDevice();
    auto peer = agent.connect(device);
    for (int i = 0; i < 3; ++i) peer->sendRequest("s" + std::to_string(i), "test.slow");
    ASSERT_TRUE(eventually([&] { return record->gate.entered.load() == 1; }));
    peer.reset();
    ASSERT_TRUE(eventually([&] { return agent.service().transport().connectionCount() == 0; }));
    EXPECT_TRUE(record->closings.entries().empty());
    record->gate.release.set_value();
    ASSERT_TRUE(record->closings.waitForCount(1));

    auto second = agent.connect(device);
    ASSERT_TRUE(second->call("test.slow"));
    const auto connections = record->requestConnections.entries();
    const std::set<std::uint64_t> sessions(connections.begin(), connections.end());
    ASSERT_EQ(sessions.size(), 2u);  // one per session
    EXPECT_EQ(sessions.count(0), 0u);
    EXPECT_EQ(record->closings.entries(), (std::vector<std::pair<std::uint64_t, int>>{{connections.front(), 3}}));
}
