// Methods marked immediate run on the transport queue as their requests are read, and fast paths
// there too while their lane is idle; everything else still goes through the worker pool. Also the
// read path around the authentication and across the session's small first-read buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>

#include "agent/transport/FramePool.h"
#include "protocol/Params.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"

using namespace kx;
using namespace kx::e2e;

namespace {
JSONObject answerNothing(const JSONObject&, const RequestContext&) {
    return {};
}

// Counts itself in, then waits until `released`.
MethodHandler holdUntil(std::atomic<std::size_t>& holding, std::shared_future<void> released) {
    return [&holding, released](const JSONObject&, const RequestContext&) {
        ++holding;
        released.wait();
        return JSONObject{};
    };
}
}  // namespace

TEST(ImmediateMethods, OnlyRegisteredMethodsWithoutATargetCanBeMarked) {
    CommandRouter router;
    router.registerMethod("plain", std::nullopt, true, answerNothing);
    router.registerMethod("ordered", std::nullopt, true, answerNothing, OrderedTarget{"input", std::nullopt});
    router.registerMethod("again", std::nullopt, true, answerNothing);
    for (const char* method : {"plain", "ordered", "again", "unknown"}) router.markImmediate(method);
    router.registerMethod("again", std::nullopt, true, answerNothing);  // registering again unmarks

    const std::vector<std::pair<std::string, bool>> cases = {
        {"plain", true}, {"ordered", false}, {"again", false}, {"unknown", false}};
    for (const auto& [method, immediate] : cases)
        EXPECT_EQ(router.isImmediate(Envelope::request("1", method)), immediate) << method;
    EXPECT_FALSE(router.isImmediate(Envelope{})) << "no method";
}

// With every worker held by a slow request, a ping still gets its answer.
TEST(ImmediateMethods, PingIsAnsweredWhileEveryWorkerIsBusy) {
    InProcessAgent agent({.startNow = false});
    std::promise<void> release;
    std::atomic<std::size_t> holding{0};
    agent.add("test.hold", holdUntil(holding, release.get_future().share()));
    agent.start();
    auto peer = agent.connect(agent.addDevice());

    const std::size_t workers = TransportServer::defaultWorkerCount;
    for (std::size_t i = 0; i < workers; ++i) peer->sendRequest("h" + std::to_string(i), "test.hold");
    ASSERT_TRUE(eventually([&] { return holding == workers; }));
    const bool answered = peer->succeeds("agent.ping");
    release.set_value();
    EXPECT_TRUE(answered);
    for (std::size_t i = 0; i < workers; ++i) EXPECT_TRUE(peer->readEnvelope()) << "hold " << i;
}

// A fast path answers on the queue while its lane of the session is idle, even with every worker
// busy; behind a running request of its lane, when it declines, or after another fast path of the
// same read, the handler answers on a worker.
TEST(FastPaths, AnswerOnTheQueueOnlyWhileTheirLaneIsIdle) {
    InProcessAgent agent({.startNow = false});
    std::promise<void> releaseWorkers, releaseLane;
    std::atomic<std::size_t> holding{0};
    const OrderedTarget lane{"input", std::nullopt};
    agent.add("test.busy", holdUntil(holding, releaseWorkers.get_future().share()));
    agent.add("test.hold", holdUntil(holding, releaseLane.get_future().share()), lane);
    agent.add(
        "test.move",
        [](const JSONObject&, const RequestContext&) {
            return JSONObject{{"via", "worker"}};
        },
        lane);
    agent.service().router().addFastPath("test.move", [](const JSONObject& params, const RequestContext&) {
        return params.contains("decline") ? std::nullopt : std::optional(JSONObject{{"via", "queue"}});
    });
    agent.start();
    TestDevice device = agent.addDevice();
    auto busy = agent.connect(device), peer = agent.connect(device);
    auto via = [&peer](const std::string& id) {
        auto answer = peer->readEnvelope();
        EXPECT_TRUE(answer && answer->id == id) << id;
        return answer && answer->p ? params::string(*answer->p, "via").value_or("") : "";
    };

    const std::size_t workers = TransportServer::defaultWorkerCount;
    for (std::size_t i = 0; i < workers; ++i) busy->sendRequest("b" + std::to_string(i), "test.busy");
    ASSERT_TRUE(eventually([&] { return holding == workers; }));
    peer->sendRequest("m1", "test.move");
    EXPECT_EQ(via("m1"), "queue");
    releaseWorkers.set_value();

    peer->sendRequest("h", "test.hold");
    ASSERT_TRUE(eventually([&] { return holding == workers + 1; }));
    peer->sendRequest("m2", "test.move");
    EXPECT_FALSE(peer->readEnvelope(std::chrono::milliseconds(100))) << "answered before the lane's running request";
    releaseLane.set_value();
    EXPECT_EQ(via("h"), "");
    EXPECT_EQ(via("m2"), "worker");
    peer->sendRequest("m3", "test.move", {{"decline", true}});
    EXPECT_EQ(via("m3"), "worker");

    // Pipelined in one write, the first takes the queue and the rest go to the workers, so that one
    // phone cannot hold the queue every session shares (a read may split the batch, hence "most").
    constexpr int batch = 40;
    Bytes frames;
    for (int i = 0; i < batch; ++i) peer->appendRequest(frames, "p" + std::to_string(i), "test.move");
    peer->sendBytes(frames);
    int onTheQueue = 0;
    for (int i = 0; i < batch; ++i) {
        auto answer = peer->readEnvelope();
        ASSERT_TRUE(answer && answer->p) << "answer " << i;
        onTheQueue += params::string(*answer->p, "via") == "queue";
    }
    EXPECT_GE(onTheQueue, 1);
    EXPECT_LT(onTheQueue, batch / 2);
}

// Requests sent in the same write as the authentication wait for it, then are answered in order,
// whether they fit the session's first-read buffer, straddle it or need several reads.
TEST(SessionReading, RequestsBehindTheAuthenticationAreAnsweredAfterItInOrder) {
    InProcessAgent agent;
    TestDevice device = agent.addDevice();
    RawPeer peer(agent.port());
    SecHello hello = peer.readHello();
    Bytes batch = FrameAccumulator::frame(asBytes(peer.makeAuth(hello, device.id, device.key).encode()));
    const std::vector<std::size_t> paddings = {0, 150, 250, 300, 70000, 10};
    for (std::size_t i = 0; i < paddings.size(); ++i)
        peer.appendRequest(batch, std::to_string(i), "agent.ping", {{"pad", std::string(paddings[i], 'x')}});
    peer.sendBytes(batch);

    auto reply = peer.readEnvelope();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->id, "sec.auth");
    for (std::size_t i = 0; i < paddings.size(); ++i) {
        auto answer = peer.readEnvelope();
        ASSERT_TRUE(answer) << "request " << i;
        EXPECT_EQ(answer->id, std::to_string(i));
        EXPECT_EQ(answer->ok, true);
    }
}

// Small answers behind large ones, from one lane and from none: every answer arrives whole and
// readable (frames go out in their counters' order), a lane's in the order sent.
TEST(SessionWriting, AnswersOfMixedSizesArriveWholeAndALanesInOrder) {
    InProcessAgent agent({.startNow = false});
    auto echo = [](const JSONObject& params, const RequestContext&) {
        return JSONObject{{"pad", std::string(static_cast<std::size_t>(*params::number(params, "size")), 'y')}};
    };
    agent.add("test.lane", echo, OrderedTarget{"lane", std::nullopt});
    agent.add("test.free", echo);
    agent.start();
    TestDevice device = agent.addDevice();

    for (const std::string method : {"test.lane", "test.free"}) {
        auto peer = agent.connect(device);
        constexpr int requests = 60;
        Bytes batch;
        for (int i = 0; i < requests; ++i)
            peer->appendRequest(batch, std::to_string(i), method, {{"size", i % 7 == 0 ? 200000.0 : 10.0}});
        peer->sendBytes(batch);
        std::vector<std::string> ids;
        for (int i = 0; i < requests; ++i) {
            auto answer = peer->readEnvelope();
            ASSERT_TRUE(answer && answer->ok == true) << method << " answer " << i;
            ids.push_back(*answer->id);
        }
        std::vector<std::string> sent;
        for (int i = 0; i < requests; ++i) sent.push_back(std::to_string(i));
        if (method == "test.free")
            std::sort(ids.begin(), ids.end(), [](auto& a, auto& b) { return std::stoi(a) < std::stoi(b); });
        EXPECT_EQ(ids, sent) << method;
    }
}

TEST(FramePool, KeepsWrittenBuffersWithinItsBounds) {
    struct Case {
        std::string name;
        std::vector<std::size_t> given;  // capacities, in order
        std::size_t kept;
    };
    const std::vector<Case> cases = {
        {"empty buffers are not kept", {0, 0}, 0},
        {"small ones are kept", {100, 200, 300}, 3},
        {"no more than the byte bound", {FramePool::maxBytes / 2, FramePool::maxBytes / 2, 100}, 2},
        {"no more than the count bound", std::vector<std::size_t>(FramePool::maxBuffers + 5, 16),
         FramePool::maxBuffers},
    };
    for (const Case& c : cases) {
        FramePool pool;
        for (std::size_t capacity : c.given) {
            Bytes buffer;
            buffer.reserve(capacity);
            buffer.resize(capacity / 2, 0x61);
            pool.give(std::move(buffer));
        }
        std::size_t kept = 0;
        for (Bytes taken = pool.take(); taken.capacity() > 0; taken = pool.take(), ++kept)
            EXPECT_TRUE(taken.empty()) << c.name;
        EXPECT_EQ(kept, c.kept) << c.name;
    }
}
