#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <future>

#include "client/DevicePairing.h"
#include "daemon/ControlClient.h"
#include "daemon/ControlServer.h"
#include "daemon/ControlSocketPath.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

std::atomic<int> acceptCalls = 0;

// A private runtime folder, a data folder and a server with an echoing "status" for each test.
class ControlServerTest : public ::testing::Test {
protected:
    void SetUp() override { ::chmod(folder.path().c_str(), S_IRWXU); }
    std::unique_ptr<ControlServer> makeServer() {
        auto made = std::make_unique<ControlServer>(ControlSocketPath::forDataFolder(dataFolder), dataFolder);
        made->addCommand("status", "status", "", [](const std::vector<std::string>& arguments) {
            return ControlReply::success("status", JSONArray(arguments.begin(), arguments.end()));
        });
        return made;
    }
    ControlReply send(const std::vector<std::string>& words) { return ControlClient::send(dataFolder, words); }
    // A connected socket that never sends its request; `path` is bound instead when `bindOnly`.
    static int socketAt(const std::filesystem::path& path, bool bindOnly = false) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        path.string().copy(address.sun_path, sizeof address.sun_path - 1);
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        EXPECT_EQ(bindOnly ? ::bind(fd, generic, sizeof address) : ::connect(fd, generic, sizeof address), 0);
        return fd;
    }

    kx::testing::TempFolder folder;
    kx::testing::ScopedVariable runtimeFolder{"XDG_RUNTIME_DIR", folder.path().string()};
    std::filesystem::path dataFolder = folder.path() / "data";
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

// Two-word names ("shutdown cancel") and arguments ("revoke ID") are ShutdownTest's and DaemonTest's.
TEST_F(ControlServerTest, CommandsTravelOverAPrivateSocketOfTheDataFolder) {
    auto server = makeServer();
    server->start();
    struct stat info {};
    ASSERT_EQ(::stat(server->socketPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(send({"status", "a b", "ü"}).data, JSONValue(JSONArray{"a b", "ü"}));
    EXPECT_FALSE(server->handle({{}}).ok);
    // Another data folder has another socket, where nobody answers.
    try {
        ControlClient::send(folder.path() / "other", {"status"});
        FAIL() << "reached an agent of another data folder";
    } catch (const ControlError& error) {
        EXPECT_NE(std::string(error.what()).find("no agent is running for data folder"), std::string::npos);
    }
    server.reset();
    EXPECT_FALSE(std::filesystem::exists(ControlSocketPath::forDataFolder(dataFolder)));
    EXPECT_THROW(send({"status"}), ControlError);

    ::chmod(folder.path().c_str(), 0755);  // a runtime folder others can enter is refused
    EXPECT_THROW(ControlSocketPath::forDataFolder(dataFolder), ControlError);
}

// A second agent being refused is DaemonTest's.
TEST_F(ControlServerTest, AStaleSocketIsReplaced) {
    // A socket file left by an agent that crashed: bound, never unlinked, nobody listening.
    ::close(socketAt(ControlSocketPath::forDataFolder(dataFolder), true));
    auto replacement = makeServer();
    replacement->start();
    EXPECT_TRUE(send({"status"}).ok);
}

TEST_F(ControlServerTest, BlockedCommandDelaysNoOtherConnectionNorOneBeyondTheLimit) {
    constexpr std::chrono::seconds stallLimit{3};
    std::promise<void> entered, release;
    std::atomic<bool> slowFinished = false;
    auto server = makeServer();
    server->addCommand("check-update", "", "", [&, released = release.get_future().share()](const auto&) {
        entered.set_value();
        released.wait_for(stallLimit);
        slowFinished = true;
        return ControlReply::success("checked\n");
    });
    server->start();
    auto slow = std::async(std::launch::async, [&] { return send({"check-update"}); });
    ASSERT_EQ(entered.get_future().wait_for(stallLimit), std::future_status::ready);
    EXPECT_EQ(inheritableSockets(), std::vector<int>{}) << "the listener and its connections are close-on-exec";
    EXPECT_TRUE(send({"status"}).ok);
    EXPECT_FALSE(slowFinished) << "status waited for the blocked command";
    release.set_value();
    EXPECT_EQ(slow.get().text, "checked\n");

    std::vector<int> silent;
    for (std::size_t i = 0; i < ControlServer::maxConnections; ++i) silent.push_back(socketAt(server->socketPath()));
    auto waiting = std::async(std::launch::async, [&] { return send({"status"}); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "served beyond the connection limit";
    ::close(silent.back());
    silent.pop_back();
    EXPECT_TRUE(waiting.get().ok);
    for (int fd : silent) ::close(fd);
}

TEST_F(ControlServerTest, RepliesWithStrayBytesAreRepairedAndServingGoesOn) {
    auto server = makeServer();
    server->addCommand("pair", "pair", "", [](const auto&) {
        return ControlReply::success("Pairing code for host\xff\n", JSONObject{{"name", "host\xff"}});
    });
    server->addCommand("revoke", "revoke", "", [](const auto&) -> ControlReply { throw ControlError("no id \xfe"); });
    server->start();
    const std::string replacement = "\xef\xbf\xbd";  // U+FFFD
    ControlReply paired = send({"pair"});
    EXPECT_EQ(paired.text, "Pairing code for host" + replacement + "\n");
    EXPECT_EQ(paired.data, JSONValue(JSONObject{{"name", "host" + replacement}}));
    EXPECT_EQ(send({"revoke", "\xff"}).error, "no id " + replacement);
    EXPECT_TRUE(send({"status"}).ok);
}

TEST_F(ControlServerTest, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers intercept accept themselves";
#endif
    constexpr std::chrono::milliseconds shortagePeriod{500};
    auto server = makeServer();
    server->start();
    rlimit original{};
    ::getrlimit(RLIMIT_NOFILE, &original);
    int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(lowestFree);
    // Room for the client's socket alone: the server's accept finds no descriptor.
    rlimit tight = original;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree + 1);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    int client = socketAt(server->socketPath());
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

// A host the phone could not use is refused before a code is issued: the code issued before stays
// the one that pairs, and the agent keeps running.
TEST(PairHost, OnlyHostNamesAndAddressesGetACode) {
    e2e::AgentProcess agent;
    kx::testing::ScopedVariable runtime{"XDG_RUNTIME_DIR", agent.runtimeFolder().string()};
    for (const std::string host : {"kestrix-host.local", "192.168.1.20", "fe80::1", "localhost."})
        EXPECT_TRUE(ControlClient::send(agent.dataFolder(), {"pair", host}).ok) << host;

    PairingPayload issued = agent.pairingCode();
    for (const std::string& host : {std::string("a\nb"), std::string("a\0b", 3), std::string(3000, 'a'),
                                    std::string("host\xff"), std::string("-bad"), std::string("a..b")}) {
        ControlReply reply = ControlClient::send(agent.dataFolder(), {"pair", host});
        EXPECT_FALSE(reply.ok) << "a code for a host of " << host.size() << " bytes";
        EXPECT_NE(reply.error.find("cannot pair: the host"), std::string::npos) << reply.error;
    }
    auto typed = agent.control({"pair", "two words"});
    EXPECT_EQ(typed.exitCode, 1);
    EXPECT_NE(typed.standardError.find("cannot pair: the host"), std::string::npos) << typed.standardError;

    EXPECT_NO_THROW(pairWithCode(issued, {"test phone", "kestrix-e2e", "test"}));
}
