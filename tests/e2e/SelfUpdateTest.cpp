#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <fstream>

#include "agent/support/AtomicFile.h"
#include "agent/support/ChildProcess.h"
#include "platform/linux/update/BundleInstaller.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/support/ClosedPort.h"
#include "tests/update/LocalHTTPSServer.h"
#include "tests/update/TestBundle.h"

using namespace kx;
using namespace kx::e2e;
using namespace kx::testing;

namespace {

const std::string kManifestPath = "/updates/agent.json";

std::filesystem::path built(const std::string& relative) {
    const char* folder = std::getenv("KX_BINARY_DIR");
    return std::filesystem::path(folder ? folder : ".") / relative;
}

void release(const std::vector<std::string>& arguments) {
    auto result = ChildProcess::run(built("tools/kx-release").string(), arguments);
    ASSERT_TRUE(result.succeeded()) << result.standardError;
}

// "state[ percent]" of every update event that reached the phone, until none comes for a
// while or the agent closes the connection on its way out.
std::string updateEvents(KxClient& client) {
    std::string seen;
    try {
        while (auto event = client.nextEvent(std::chrono::seconds(3))) {
            if (event->m != "agent.update" || !event->p) continue;
            seen += event->p->at("state").asString();
            if (auto progress = event->p->find("progress"); progress != event->p->end())
                seen += " " + std::to_string(static_cast<int>(progress->second.asNumber() * 100));
            seen += "\n";
        }
    } catch (const std::exception&) {
    }
    return seen;
}

// Version 1.0.0 installed as a portable bundle in the build tree (installations in the system's
// temporary folders refuse to replace themselves), an update host and kx-release's signing key.
// The agents a swap starts come to this process, which stops and reaps them.
class SelfUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.ready()) GTEST_SKIP() << "python3 or openssl missing: no local HTTPS server";
        for (auto temporary : BundleInstaller::temporaryFolders())
            if (!built("").lexically_relative(temporary).string().starts_with(".."))
                GTEST_SKIP() << "the build tree is in a temporary folder, where installations do not update";
        std::string pattern = built("tests/e2e/kx-install-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        makeBundle(installation(), "1.0.0", built("daemon/kestrixd"), std::nullopt);
        std::ofstream(root / "release.key") << base64URLEncode(testSeed()) << "\n";
        release({"sign-bundle", installation().string(), "--key", (root / "release.key").string()});
        installed = BundleFileList::scan(installation());
        agent = std::make_unique<AgentProcess>(AgentProcess::Options{
            .environment = {"KX_UPDATE_BASE_URL=" + server.baseURL(), "KX_UPDATE_CA_FILE=" + server.caFile().string(),
                            "KX_UPDATE_PUBLIC_KEY_FILE=", "XDG_CONFIG_HOME=" + (root / "config").string()},
            .port = closedLoopbackPort(),
            .program = installation() / "bin" / "kestrixd"});
        phone = pairClient(*agent);
        client = connectClient(*phone);
    }

    void TearDown() override {
        if (agent) {
            // The agent a swap started answers with its own process id.
            auto status = agent->control({"update", "status", "--json"});
            pid_t pid =
                status.succeeded()
                    ? static_cast<pid_t>(JSONValue::fromJSONText(status.standardOutput).asObject().at("pid").asNumber())
                    : agent->pid();
            if (pid != agent->pid()) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
            agent.reset();
        }
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {  // the swap scripts that ended
        }
        if (!root.empty()) std::filesystem::remove_all(root);
    }

    std::filesystem::path installation() const { return root / "Kestrix"; }

    // Makes `version`, signs it with `key` through kx-release, lets `alter` change it, packs it and
    // publishes it as `published`.
    void publish(const std::string& version, const std::string& published, const std::string& key,
                 const std::function<void(const std::filesystem::path&)>& alter = {}) {
        auto folder = root / ("release-" + std::to_string(++releases));
        makeBundle(folder / "Kestrix", version, built("daemon/kestrixd"), std::nullopt);
        release({"sign-bundle", (folder / "Kestrix").string(), "--key", (root / key).string()});
        if (alter) alter(folder / "Kestrix");
        auto archive = folder / ("Kestrix-" + published + "-linux-x86_64.tar.gz");
        writeTarGz(archive, entriesOf(folder, "Kestrix"));
        publishArchive(archive, published);
    }

    // kx-release puts the archive's entry into a manifest and signs it; the host serves both.
    void publishArchive(const std::filesystem::path& archive, const std::string& published) {
        auto path = "/files/" + archive.filename().string();
        auto manifest = archive.parent_path() / "agent.json";
        release({"entry", archive.string(), "--version", published, "--url", server.url(path), "--manifest",
                 manifest.string()});
        release({"sign", manifest.string(), "--key", (root / "release.key").string()});
        server.serveBody(kManifestPath, readWholeFile(manifest).value());
        server.serveBody(path, readWholeFile(archive).value());
    }

    // `kestrixd check-update`, then `kestrixd update`, whose output is returned.
    ChildProcess::Result checkAndUpdate() {
        auto check = agent->control({"check-update"});
        EXPECT_TRUE(has(check.standardOutput, "Update available: 1.0.1")) << check.standardError;
        return agent->control({"update"});
    }

    // Version 1.0.0 still runs from an untouched installation, and no staging folder is left.
    void expectUntouched() {
        EXPECT_EQ(client->call("agent.info").at("version"), JSONValue("1.0.0"));
        EXPECT_EQ(BundleFileList::scan(installation()), installed);
        for (const auto& entry : std::filesystem::directory_iterator(root))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".Kestrix-update-")) << entry.path();
    }

    LocalHTTPSServer server;
    std::filesystem::path root;
    BundleFileList installed;
    int releases = 0;
    std::unique_ptr<AgentProcess> agent;
    std::optional<ClientState> phone;
    std::unique_ptr<KxClient> client;
};

}  // namespace

TEST_F(SelfUpdateTest, ANewerReleaseIsDownloadedCheckedSwappedInAndAnswersOverANewConnection) {
    publish("1.0.1", "1.0.1", "release.key");
    auto update = checkAndUpdate();
    EXPECT_TRUE(update.succeeded()) << update.standardError;
    for (const char* line : {"Installing Kestrix 1.0.1\n", "Downloading", "Kestrix 1.0.1 is running.\n"})
        EXPECT_TRUE(has(update.standardOutput, line)) << update.standardOutput;
    auto events = updateEvents(*client);
    for (const char* line : {"downloading 0\n", "downloading 100\nverifying\ninstalling\n"})
        EXPECT_TRUE(has(events, line)) << events;
    EXPECT_EQ(agent->waitForExit(), 0);

    EXPECT_EQ(connectClient(*phone)->call("agent.info").at("version"), JSONValue("1.0.1"));
    EXPECT_EQ(BundleLocation::versionOf(installation()), "1.0.1");
}

// Each bad release leaves 1.0.0 running and intact with the reason the phone reads, and a failed
// check is reported as one; a release that passes every check but does not start is swapped out
// again and the 1.0.0 put back says so.
TEST_F(SelfUpdateTest, BadReleasesAndFailedChecksLeaveTheRunningVersionInPlaceWithTheirReasons) {
    Key32 otherSeed{};
    otherSeed.fill(5);
    std::ofstream(root / "other.key") << base64URLEncode(otherSeed) << "\n";
    // A download that does not match its digest is UpdateServiceTest's.
    const std::vector<std::pair<std::function<void()>, std::string>> rows = {
        {[&] { publish("1.0.1", "1.0.1", "other.key"); }, "The update is not signed by the Kestrix developer"},
        {[&] { publish("1.0.2", "1.0.1", "release.key"); }, "The update is not the version that was published"},
        {[&] {
             auto archive = root / "Kestrix-1.0.1-linux-x86_64.tar.gz";
             writeTarGz(archive, {{"Kestrix/", TarEntry::Type::folder, {}, 0755},
                                  {"Kestrix/../../escaped", TarEntry::Type::file, "x"}});
             publishArchive(archive, "1.0.1");
         },
         "The update could not be unpacked"},
    };
    for (const auto& [publishRelease, reason] : rows) {
        SCOPED_TRACE(reason);
        publishRelease();
        auto update = checkAndUpdate();
        EXPECT_FALSE(update.succeeded());
        EXPECT_TRUE(has(update.standardOutput, "Update failed: " + reason + "\n")) << update.standardOutput;
        EXPECT_EQ(client->call("agent.update.status").at("message"), JSONValue("Update failed: " + reason));
        expectUntouched();
    }
    EXPECT_FALSE(std::filesystem::exists(root.parent_path() / "escaped"));

    // After good checks, failing ones exit non-zero with why instead of repeating the last result.
    auto foreign = CanonicalJSON::serialize(CanonicalJSON::Value(manifestObject({.version = "1.0.1"})));
    server.serveBody(kManifestPath, signManifest(foreign, otherSeed));
    auto badSignature = agent->control({"check-update"});
    EXPECT_FALSE(badSignature.succeeded());
    EXPECT_TRUE(has(badSignature.standardError, "Update check failed: the manifest signature is not valid"))
        << badSignature.standardError << badSignature.standardOutput;

    publish("1.0.1", "1.0.1", "release.key", [&](const std::filesystem::path& bundle) {
        // Signed as published, but its agent exits at once.
        std::ofstream(bundle / "bin" / "kestrixd", std::ios::trunc) << "#!/bin/sh\nexit 1\n";
        release({"sign-bundle", bundle.string(), "--key", (root / "release.key").string()});
    });
    auto update = checkAndUpdate();
    const std::string putBack = "Update failed: Kestrix 1.0.1 did not start, so Kestrix 1.0.0 was put back";
    EXPECT_FALSE(update.succeeded());
    EXPECT_TRUE(has(update.standardOutput, putBack)) << update.standardOutput;
    EXPECT_EQ(agent->waitForExit(), 0);
    client = connectClient(*phone);
    EXPECT_EQ(client->call("agent.update.status").at("message"), JSONValue(putBack));
    expectUntouched();
}

// The key named by KX_UPDATE_PUBLIC_KEY_FILE checks the manifest. How the statuses reach a phone is
// the tests' above and UpdateStatusTest's.
TEST(Update, TheKeyFileNamedInTheEnvironmentAcceptsANewerRelease) {
    LocalHTTPSServer server;
    if (!server.ready()) GTEST_SKIP() << "python3 or openssl missing: no local HTTPS server";
    server.serveBody("/updates/agent.json", signedManifest({.version = "999.0.0", .minimumVersion = "0.0.1"}));
    TempFolder folder;
    auto keyFile = folder / "update-public-key.txt";
    std::ofstream(keyFile) << base64URLEncode(testPublicKey()) << "\n";
    AgentProcess agent(
        {.environment = {"KX_UPDATE_BASE_URL=" + server.baseURL(), "KX_UPDATE_CA_FILE=" + server.caFile().string(),
                         "KX_UPDATE_PUBLIC_KEY_FILE=" + keyFile.string(),
                         "XDG_CONFIG_HOME=" + (folder / "config").string()}});
    EXPECT_TRUE(agent.statusShows("updates: idle"));
    auto check = agent.control({"check-update"});
    ASSERT_TRUE(check.succeeded()) << check.standardError;
    EXPECT_TRUE(has(check.standardOutput, "Update available: 999.0.0")) << check.standardOutput;
    EXPECT_TRUE(agent.statusShows("updates: available (Update available: 999.0.0)"));
}

TEST(Update, WithoutAnUpdateHostChecksAreRefused) {
    TempFolder folder;
    AgentProcess agent({.environment = {"KX_UPDATE_BASE_URL=", "XDG_CONFIG_HOME=" + (folder / "config").string()}});
    auto check = agent.control({"check-update"});
    EXPECT_FALSE(check.succeeded());
    EXPECT_TRUE(has(check.standardError, "updates are off")) << check.standardError;
    EXPECT_TRUE(agent.statusShows("updates: off"));
}
