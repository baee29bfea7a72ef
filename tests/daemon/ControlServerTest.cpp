#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>

#include "daemon/ControlClient.h"
#include "daemon/ControlServer.h"
#include "daemon/ControlSocketPath.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

// A private runtime folder and a data folder for each test.
class ControlServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::chmod(folder.path().c_str(), S_IRWXU);
        dataFolder = folder.path() / "data";
    }
    std::unique_ptr<ControlServer> makeServer() {
        return std::make_unique<ControlServer>(ControlSocketPath::forDataFolder(dataFolder), dataFolder);
    }

    kx::testing::TempFolder folder;
    kx::testing::ScopedVariable runtimeFolder{"XDG_RUNTIME_DIR", folder.path().string()};
    std::filesystem::path dataFolder;
};

ControlServer::Handler echo(const std::string& name) {
    return [name](const std::vector<std::string>& arguments) {
        JSONArray data(arguments.begin(), arguments.end());
        return ControlReply::success(name, data);
    };
}

}  // namespace

TEST_F(ControlServerTest, LongestCommandNameWinsAndTheRestAreArguments) {
    auto server = makeServer();
    server->addCommand("shutdown", "shutdown", "", echo("shutdown"));
    server->addCommand("shutdown cancel", "shutdown cancel", "", echo("shutdown cancel"));
    server->addCommand("fail", "fail", "", [](const auto&) -> ControlReply { throw ControlError("it went wrong"); });

    ControlReply cancel = server->handle({{"shutdown", "cancel", "now"}});
    EXPECT_EQ(cancel.text, "shutdown cancel");
    EXPECT_EQ(cancel.data, JSONValue(JSONArray{"now"}));
    ControlReply plain = server->handle({{"shutdown", "later"}});
    EXPECT_EQ(plain.text, "shutdown");
    EXPECT_EQ(plain.data, JSONValue(JSONArray{"later"}));

    ControlReply failed = server->handle({{"fail"}});
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, "it went wrong");
    EXPECT_FALSE(server->handle({{"cancel"}}).ok);
    EXPECT_FALSE(server->handle({{}}).ok);
}

TEST_F(ControlServerTest, CommandsTravelOverAPrivateSocket) {
    auto server = makeServer();
    server->addCommand("echo", "echo WORDS", "", echo("echo"));
    server->start();

    struct stat info {};
    ASSERT_EQ(::stat(server->socketPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    ControlReply reply = ControlClient::send(dataFolder, {"echo", "a b", "ü"});
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.data, JSONValue(JSONArray{"a b", "ü"}));
    EXPECT_FALSE(ControlClient::send(dataFolder, {"nothing"}).ok);

    // Another data folder has another socket, where nobody answers.
    try {
        ControlClient::send(folder.path() / "other", {"echo"});
        FAIL() << "reached an agent of another data folder";
    } catch (const ControlError& error) {
        EXPECT_NE(std::string(error.what()).find("no agent is running for data folder"), std::string::npos);
    }

    server.reset();
    EXPECT_FALSE(std::filesystem::exists(ControlSocketPath::forDataFolder(dataFolder)));
    EXPECT_THROW(ControlClient::send(dataFolder, {"echo"}), ControlError);
}

TEST_F(ControlServerTest, SecondAgentIsRefusedButAStaleSocketIsReplaced) {
    auto first = makeServer();
    first->start();
    try {
        makeServer();
        FAIL() << "two agents share a data folder";
    } catch (const ControlError& error) {
        EXPECT_NE(std::string(error.what()).find("another agent is already running"), std::string::npos);
    }
    first.reset();

    // A socket file left by an agent that crashed: bound, never unlinked, nobody listening.
    auto path = ControlSocketPath::forDataFolder(dataFolder);
    int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    auto replacement = makeServer();
    replacement->addCommand("echo", "echo", "", echo("echo"));
    replacement->start();
    EXPECT_TRUE(ControlClient::send(dataFolder, {"echo"}).ok);
}

TEST_F(ControlServerTest, RuntimeFolderOthersCanEnterIsRefused) {
    ::chmod(folder.path().c_str(), 0755);
    EXPECT_THROW(ControlSocketPath::forDataFolder(dataFolder), ControlError);
}
