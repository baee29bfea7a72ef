#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "agent/transport/TransportServer.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/RawPeer.h"
#include "tests/support/Recorder.h"

using namespace kx;
using e2e::eventually;
using e2e::RawPeer;

namespace {

// Threads of this process, the test's own included.
std::size_t runningThreads() {
    std::size_t count = 0;
    for (const auto& thread : std::filesystem::directory_iterator("/proc/self/task")) count += thread.exists();
    return count;
}

class TransportServerTest : public ::testing::Test {
protected:
    std::shared_ptr<TransportServer> makeServer() {
        auto registry = std::make_shared<DeviceRegistry>();
        auto server =
            TransportServer::create(AgentIdentity::generate(), registry, std::make_shared<PairingService>(registry),
                                    std::make_shared<CommandRouter>(), {"host", "1", "linux", "os"}, {});
        server->setOnStateChange([this](const TransportState& state) { states.record(state); });
        server->setOnConnectionsChange([this](std::size_t count) { counts.record(count); });
        return server;
    }
    std::size_t lastCount() const {
        auto all = counts.entries();
        return all.empty() ? 0 : all.back();
    }

    kx::testing::Recorder<TransportState> states;
    kx::testing::Recorder<std::size_t> counts;
};

// Absent where the system has no IPv6.
std::optional<bool> connectsOverIPv6Loopback(std::uint16_t port) {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_loopback;
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

// Children inherit no socket: ChildProcessTest, and the end-to-end sessions test's restart beside tmux.
TEST_F(TransportServerTest, ListensCountsConnectionsBeforeTheyAuthenticateAndRestarts) {
    auto server = makeServer();
    EXPECT_EQ(server->state(), TransportState::stopped());
    server->start(std::nullopt, false);
    TransportState state = server->state();
    ASSERT_EQ(state.which, TransportState::Case::listening);
    EXPECT_NE(state.port, 0);
    EXPECT_EQ(states.entries(),
              (std::vector<TransportState>{TransportState::stopped(), TransportState::starting(), state}));

    RawPeer silent(state.port);
    silent.readHello();
    EXPECT_EQ(server->connectionCount(), 1u);
    EXPECT_TRUE(eventually([&] { return lastCount() == 1; }));

    // A restart closes the old sessions and can reuse the port.
    server->start(state.port, false);
    EXPECT_TRUE(silent.waitForClose());
    EXPECT_EQ(server->state(), state);
    RawPeer fresh(state.port);
    fresh.readHello();
    EXPECT_EQ(server->connectionCount(), 1u);

    server->stop();
    EXPECT_EQ(server->state(), TransportState::stopped());
    EXPECT_EQ(lastCount(), 0u);
    EXPECT_EQ(server->connectionCount(), 0u);
    EXPECT_TRUE(fresh.waitForClose());
    EXPECT_THROW(RawPeer{state.port}, std::system_error);
}

TEST_F(TransportServerTest, AcceptsIPv6AndThrowsOnAPortInUseLeavingTheServerStarting) {
    auto first = makeServer();
    first->start(std::nullopt, false);
    if (auto connected = connectsOverIPv6Loopback(first->state().port)) {
        EXPECT_TRUE(*connected);
    }
    auto second = makeServer();
    EXPECT_THROW(second->start(first->state().port, false), std::system_error);
    EXPECT_EQ(second->state(), TransportState::starting());
}

// From inside a callback, calls that would wait on the server's own queue are refused, and the owner may let go.
TEST_F(TransportServerTest, CallbacksAreRefusedWaitingCallsAndMayLetTheOwnerGo) {
    // A first thread makes a sanitizer start its own helper thread now, not while the server runs.
    std::thread([] {}).join();
    const std::size_t threadsBefore = runningThreads();
    auto server = makeServer();
    std::promise<std::string> outcome;
    server->setOnConnectionsChange([slot = &server, &outcome](std::size_t count) {
        if (count != 1) return;
        std::string refused = "no refusal";
        try {
            (*slot)->connectionCount();
        } catch (const std::logic_error&) {
            refused = "refused";
        }
        slot->reset();
        outcome.set_value(refused);
    });
    server->start(std::nullopt, false);
    RawPeer peer(server->state().port);
    auto answer = outcome.get_future();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(answer.get(), "refused");
    EXPECT_TRUE(peer.waitForClose());
    // Let go on its own thread, the server finishes there: its queue and worker threads end on
    // their own (and before the test process exits, which would cut their teardown short).
    EXPECT_TRUE(eventually([&] { return runningThreads() <= threadsBefore; }));
}
