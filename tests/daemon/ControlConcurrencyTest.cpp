#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <future>

#include "daemon/ControlClient.h"
#include "daemon/ControlServer.h"
#include "daemon/ControlSocketPath.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

// Longest time the blocking command waits for the test to release it.
constexpr std::chrono::seconds stallLimit{3};

class ControlConcurrencyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::chmod(folder.path().c_str(), S_IRWXU);
        server = std::make_unique<ControlServer>(ControlSocketPath::forDataFolder(dataFolder), dataFolder);
        server->addCommand("status", "status", "", [](const auto&) { return ControlReply::success("fine\n"); });
    }

    // A connected socket that never sends its request.
    int silentClient() {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, server->socketPath().c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }

    kx::testing::TempFolder folder;
    kx::testing::ScopedVariable runtimeFolder{"XDG_RUNTIME_DIR", folder.path().string()};
    std::filesystem::path dataFolder = folder.path() / "data";
    std::unique_ptr<ControlServer> server;
};

// Socket descriptors of this process that a spawned child would inherit.
std::vector<int> inheritableSockets() {
    std::vector<int> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        int fd = std::stoi(entry.path().filename().string());
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode) && !(::fcntl(fd, F_GETFD) & FD_CLOEXEC))
            found.push_back(fd);
    }
    return found;
}

// How long the test keeps the process short of descriptors.
constexpr std::chrono::milliseconds shortagePeriod{500};

std::atomic<int> acceptCalls = 0;

}  // namespace

// Counts the server's attempts to accept, and lets each one through.
extern "C" int accept(int fd, sockaddr* address, socklen_t* length) {
    ++acceptCalls;
    static auto real = reinterpret_cast<int (*)(int, sockaddr*, socklen_t*)>(::dlsym(RTLD_NEXT, "accept"));
    return real(fd, address, length);
}
extern "C" int accept4(int fd, sockaddr* address, socklen_t* length, int flags) {
    ++acceptCalls;
    static auto real = reinterpret_cast<int (*)(int, sockaddr*, socklen_t*, int)>(::dlsym(RTLD_NEXT, "accept4"));
    return real(fd, address, length, flags);
}

namespace {}  // namespace

TEST_F(ControlConcurrencyTest, BlockedCommandDelaysNoOtherConnection) {
    std::promise<void> entered;
    std::promise<void> release;
    std::atomic<bool> slowFinished = false;
    server->addCommand("check-update", "check-update", "", [&, released = release.get_future().share()](const auto&) {
        entered.set_value();
        released.wait_for(stallLimit);
        slowFinished = true;
        return ControlReply::success("checked\n");
    });
    server->start();

    auto slow = std::async(std::launch::async, [&] { return ControlClient::send(dataFolder, {"check-update"}); });
    ASSERT_EQ(entered.get_future().wait_for(stallLimit), std::future_status::ready);
    EXPECT_EQ(inheritableSockets(), std::vector<int>{}) << "the listener and its connections are close-on-exec";

    ControlReply status = ControlClient::send(dataFolder, {"status"});
    EXPECT_TRUE(status.ok);
    EXPECT_FALSE(slowFinished) << "status waited for the blocked command";

    release.set_value();
    EXPECT_EQ(slow.get().text, "checked\n");
}

TEST_F(ControlConcurrencyTest, ClientBeyondTheConnectionLimitWaitsForAFreeSlot) {
    server->start();
    std::vector<int> silent;
    for (std::size_t i = 0; i < ControlServer::maxConnections; ++i) silent.push_back(silentClient());

    auto waiting = std::async(std::launch::async, [&] { return ControlClient::send(dataFolder, {"status"}); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "served beyond the connection limit";
    ::close(silent.back());
    silent.pop_back();
    EXPECT_TRUE(waiting.get().ok);
    for (int fd : silent) ::close(fd);
}

TEST_F(ControlConcurrencyTest, RepliesWithStrayBytesAreRepairedAndServingGoesOn) {
    server->addCommand("pair", "pair", "", [](const auto&) {
        return ControlReply::success("Pairing code for host\xff\n", JSONObject{{"name", "host\xff"}});
    });
    server->addCommand("revoke", "revoke", "", [](const auto&) -> ControlReply { throw ControlError("no id \xfe"); });
    server->start();

    const std::string replacement = "\xef\xbf\xbd";  // U+FFFD
    ControlReply paired = ControlClient::send(dataFolder, {"pair"});
    EXPECT_EQ(paired.text, "Pairing code for host" + replacement + "\n");
    EXPECT_EQ(paired.data, JSONValue(JSONObject{{"name", "host" + replacement}}));
    EXPECT_EQ(ControlClient::send(dataFolder, {"revoke", "\xff"}).error, "no id " + replacement);
    EXPECT_TRUE(ControlClient::send(dataFolder, {"status"}).ok);
}

TEST_F(ControlConcurrencyTest, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers intercept accept themselves";
#endif
    server->start();
    rlimit original{};
    ::getrlimit(RLIMIT_NOFILE, &original);
    int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(lowestFree);
    // Room for the client's socket alone: the server's accept finds no descriptor.
    rlimit tight = original;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree + 1);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    int client = silentClient();
    const int before = acceptCalls;
    std::this_thread::sleep_for(shortagePeriod);
    const int attempts = acceptCalls - before;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);

    EXPECT_GE(attempts, 1);
    EXPECT_LE(attempts, shortagePeriod / ControlServer::acceptRetryDelay + 1) << "the server kept retrying its accept";
    std::string request = ControlRequest{{"status"}}.encode() + "\n";
    ASSERT_EQ(::send(client, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    char reply[256];
    EXPECT_GT(::recv(client, reply, sizeof reply, 0), 0) << "the connection was served once descriptors were back";
    ::close(client);
}
