#include <gtest/gtest.h>

#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include "client/DevicePairing.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"

using namespace kx;
using namespace kx::e2e;

namespace {

// A small file system of its own, unmounted at the end; absent when mounting is not allowed here.
struct SmallDisk {
    kx::testing::TempFolder folder{"disk"};
    bool mounted = ::mount("tmpfs", folder.path().c_str(), "tmpfs", 0, "size=64k,mode=0700") == 0;
    ~SmallDisk() {
        if (mounted) ::umount2(folder.path().c_str(), MNT_DETACH);
    }
    // Writes until the disk is full.
    void fill() const {
        std::ofstream filler(folder / "filler");
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }
};

}  // namespace

TEST(StateFiles, UnsavedRevokesAndPairingsOnAFullDiskAreReported) {
    SmallDisk disk;
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small tmpfs here";
    const auto data = disk.folder / "data";
    std::filesystem::create_directory(data);
    std::optional<AgentProcess> agent(std::in_place, AgentProcess::Options{.dataFolder = data});
    ClientState first = pairClient(*agent);

    disk.fill();
    auto revoke = agent->control({"revoke", first.deviceId});
    EXPECT_FALSE(revoke.succeeded());
    EXPECT_TRUE(has(revoke.standardError, "could not be saved")) << revoke.standardError;
    EXPECT_ANY_THROW(connectClient(first));  // refused all the same
    EXPECT_TRUE(has(agent->control({"status"}).standardOutput, "paired devices NOT SAVED"));
    EXPECT_TRUE(has(agent->errorOutput(), "could not save")) << agent->errorOutput();
    try {
        pairClient(*agent);
        ADD_FAILURE() << "a pairing that cannot be saved was accepted";
    } catch (const std::exception& error) {
        EXPECT_TRUE(has(error.what(), "Could not save the pairing")) << error.what();
    }
    EXPECT_TRUE(agent->controlJSON({"devices"}).asArray().empty());

    std::filesystem::remove(disk.folder / "filler");
    ClientState second = pairClient(*agent);
    EXPECT_FALSE(has(agent->control({"status"}).standardOutput, "NOT SAVED"));
    agent.reset();
    AgentProcess restarted({.dataFolder = data});
    auto devices = restarted.controlJSON({"devices"}).asArray();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].asObject().at("id").asString(), second.deviceId);
}

// The replaced names reach the phone and the templates made from them; their ids stay the same
// when the agent starts again on the commands file it wrote.
TEST(StateFiles, InvalidUTF8InHostNameAndHomeIsReplaced) {
    if (::unshare(CLONE_NEWUTS) != 0) GTEST_SKIP() << "cannot have a host name of its own here";
    const std::string host = "kx-\xff-host";
    ASSERT_EQ(::sethostname(host.data(), host.size()), 0);
    kx::testing::TempFolder folder("utf8");
    AgentProcess::Options options{.environment = {"HOME=" + (folder / "home-\xff").string()},
                                  .dataFolder = folder / "data"};
    std::vector<JSONValue> ids[2];
    ClientState phone;
    for (auto& runIDs : ids) {
        AgentProcess agent(options);
        if (&runIDs == &ids[0]) phone = pairClient(agent);
        phone.port = agent.port();
        auto client = connectClient(phone);
        EXPECT_EQ(client->call("agent.info").at("name").asString(), "kx-\xEF\xBF\xBD-host");
        const JSONObject listed = client->call("templates.list");
        for (const auto& t : listed.at("templates").asArray()) {
            runIDs.push_back(t.asObject().at("templateId"));
            EXPECT_TRUE(has(t.asObject().at("cwd").asString(), "home-\xEF\xBF\xBD"));
        }
    }
    EXPECT_EQ(ids[0].size(), 2u);
    EXPECT_EQ(ids[0], ids[1]);
    EXPECT_TRUE(std::filesystem::exists(*options.dataFolder / "commands.json"));
}

TEST(StateFiles, AFIFOInPlaceOfTheKeyIsRefusedAtOnce) {
    kx::testing::TempFolder folder("fifo");
    std::filesystem::create_directory(folder / "data");
    ASSERT_EQ(::mkfifo((folder / "data" / "com.kestrix.agent.identity.key").c_str(), 0600), 0);
    AgentProcess agent({.waitUntilListening = false, .dataFolder = folder / "data"});
    EXPECT_EQ(agent.waitForExit(), 1);
    EXPECT_TRUE(has(agent.errorOutput(), "not a regular file")) << agent.errorOutput();
}

TEST(StateFiles, SIGTERMStopsAStartUpThatHangs) {
    // A system bus that takes the connection and never answers holds the start-up in advertising.
    kx::testing::TempFolder folder("hang");
    const auto bus = folder / "bus";
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    bus.string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    AgentProcess agent({.environment = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + bus.string(), "AVAHI_COMPAT_NOWARN=1"},
                        .advertise = true,
                        .waitUntilListening = false,
                        .dataFolder = folder / "data"});
    pollfd waiting{listener, POLLIN, 0};
    ASSERT_EQ(::poll(&waiting, 1, 20000), 1) << agent.errorOutput();
    int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);

    agent.stop();
    EXPECT_TRUE(has(agent.errorOutput(), "stopping during start-up on SIGTERM")) << agent.errorOutput();
    EXPECT_FALSE(has(agent.errorOutput(), "listening on port"));
    ::close(connection);
    ::close(listener);
}
