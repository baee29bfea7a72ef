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

constexpr std::chrono::seconds kAnswerLimit{10};
constexpr std::chrono::seconds kExitLimit{10};
constexpr int kStartUpConnectLimitMs = 20000;
const char* const kKeyFile = "com.kestrix.agent.identity.key";

AgentProcess::Options inFolder(const std::filesystem::path& data) {
    AgentProcess::Options options;
    options.dataFolder = data;
    return options;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string statusText(const AgentProcess& agent) {
    return agent.control({"status"}).standardOutput;
}

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
    std::optional<AgentProcess> agent(inFolder(data));
    ClientState first = pairClient(*agent);

    disk.fill();
    auto revoke = agent->control({"revoke", first.deviceId});
    EXPECT_FALSE(revoke.succeeded());
    EXPECT_TRUE(has(revoke.standardError, "could not be saved")) << revoke.standardError;
    EXPECT_ANY_THROW(connectClient(first));  // refused all the same
    EXPECT_TRUE(has(statusText(*agent), "paired devices NOT SAVED")) << statusText(*agent);
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
    EXPECT_FALSE(has(statusText(*agent), "NOT SAVED"));
    agent.reset();
    AgentProcess restarted(inFolder(data));
    auto devices = restarted.controlJSON({"devices"}).asArray();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].asObject().at("id").asString(), second.deviceId);
}

TEST(StateFiles, InvalidUTF8InHostNameAndHomeIsReplaced) {
    if (::unshare(CLONE_NEWUTS) != 0) GTEST_SKIP() << "cannot have a host name of its own here";
    const std::string host = "kx-\xff-host";
    ASSERT_EQ(::sethostname(host.data(), host.size()), 0);
    kx::testing::TempFolder folder("utf8");
    auto options = inFolder(folder / "data");
    options.environment = {"HOME=" + (folder / "home-\xff").string()};
    std::vector<std::string> templateIDs;
    ClientState phone;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        AgentProcess agent(options);
        if (run == 0) phone = pairClient(agent);
        phone.port = agent.port();
        auto client = connectClient(phone);
        auto info = client->call("agent.info", {}, kAnswerLimit);
        EXPECT_EQ(info.at("name").asString(), "kx-\xEF\xBF\xBD-host");
        std::vector<std::string> ids;
        auto listed = client->call("templates.list", {}, kAnswerLimit);
        for (const auto& t : listed.at("templates").asArray()) {
            ids.push_back(t.asObject().at("templateId").asString());
            EXPECT_TRUE(has(t.asObject().at("cwd").asString(), "home-\xEF\xBF\xBD"));
        }
        EXPECT_EQ(ids.size(), 2u);
        if (run == 0) templateIDs = ids;
        EXPECT_EQ(ids, templateIDs);
        EXPECT_TRUE(std::filesystem::exists(*options.dataFolder / "commands.json"));
    }
}

TEST(StateFiles, AFIFOInPlaceOfTheKeyIsRefusedAtOnce) {
    kx::testing::TempFolder folder("fifo");
    std::filesystem::create_directory(folder / "data");
    ASSERT_EQ(::mkfifo((folder / "data" / kKeyFile).c_str(), 0600), 0);
    auto options = inFolder(folder / "data");
    options.waitUntilListening = false;
    AgentProcess agent(options);
    EXPECT_EQ(agent.waitForExit(kExitLimit), 1);
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
    auto options = inFolder(folder / "data");
    options.environment = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + bus.string(), "AVAHI_COMPAT_NOWARN=1"};
    options.advertise = true;
    options.waitUntilListening = false;
    AgentProcess agent(options);
    pollfd waiting{listener, POLLIN, 0};
    ASSERT_EQ(::poll(&waiting, 1, kStartUpConnectLimitMs), 1) << agent.errorOutput();
    int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);

    agent.stop();
    EXPECT_TRUE(has(agent.errorOutput(), "stopping during start-up on SIGTERM")) << agent.errorOutput();
    EXPECT_FALSE(has(agent.errorOutput(), "listening on port"));
    ::close(connection);
    ::close(listener);
}
