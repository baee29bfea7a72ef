#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <fstream>

#include "agent/support/AtomicFile.h"
#include "agent/support/ChildProcess.h"
#include "platform/linux/update/BundleInstaller.h"
#include "protocol/Base64URL.h"
#include "tests/e2e/support/AgentProcess.h"
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

// Runs kx-release; fails the test with its output when it fails.
void release(const std::vector<std::string>& arguments) {
    auto result = ChildProcess::run(built("tools/kx-release").string(), arguments);
    ASSERT_TRUE(result.succeeded()) << result.standardError;
}

// The state changes and progress that reached a phone, until none comes for a while or the agent
// closes the connection on its way out.
std::vector<std::string> updateEvents(KxClient& client) {
    std::vector<std::string> seen;
    auto next = [&]() -> std::optional<Envelope> {
        try {
            return client.nextEvent(std::chrono::seconds(3));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
    while (auto event = next()) {
        if (event->m != "agent.update" || !event->p) continue;
        std::string line = event->p->at("state").asString();
        if (auto progress = event->p->find("progress"); progress != event->p->end())
            line += " " + std::to_string(static_cast<int>(progress->second.asNumber() * 100));
        if (auto message = event->p->find("message"); message != event->p->end())
            line += ": " + message->second.asString();
        seen.push_back(line);
    }
    return seen;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Version 1.0.0 installed as a portable bundle in a folder of the build tree (the system's temporary
// folders are where an installation refuses to replace itself), an update host, and kx-release's
// signing key. The agents the swap starts come to this process, which stops and reaps them.
class SelfUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.ready()) GTEST_SKIP() << "python3 or openssl missing: no local HTTPS server";
        auto parent = built("tests/e2e");
        for (const auto& temporary : {"/tmp", "/var/tmp"})
            if (!parent.lexically_relative(temporary).string().starts_with(".."))
                GTEST_SKIP() << "the build tree is in a temporary folder, where installations do not update";
        std::string pattern = (parent / "kx-install-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        installation = root / "Kestrix";
        makeBundle(installation, "1.0.0", built("daemon/kestrixd"), std::nullopt);
        std::ofstream(root / "release.key") << base64URLEncode(testSeed()) << "\n";
        release({"sign-bundle", installation.string(), "--key", (root / "release.key").string()});
        installed = BundleFileList::scan(installation);
    }

    void TearDown() override {
        // The agent the swap started, if any, answers with its process id.
        if (agent) {
            auto status = agent->control({"update", "status", "--json"});
            if (status.succeeded()) {
                auto pid = JSONValue::fromJSONText(status.standardOutput).asObject().at("pid").asNumber();
                if (pid != agent->pid()) stopOrphan(static_cast<pid_t>(pid));
            }
            agent.reset();
        }
        // The swap scripts that ended.
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        if (!root.empty()) std::filesystem::remove_all(root);
    }

    static void stopOrphan(pid_t pid) {
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 200 && ::waitpid(pid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }

    void startAgent() {
        agent = std::make_unique<AgentProcess>(AgentProcess::Options{
            .environment = {"KX_UPDATE_BASE_URL=" + server.baseURL(), "KX_UPDATE_CA_FILE=" + server.caFile().string(),
                            "KX_UPDATE_PUBLIC_KEY_FILE=", "XDG_CONFIG_HOME=" + (root / "config").string()},
            .port = closedLoopbackPort(),
            .executable = installation / "bin" / "kestrixd"});
        phone = pairClient(*agent);
        client = connectClient(*phone);
    }

    // Makes version `version` in a folder of its own, signs it with `key` (kx-release sign-bundle),
    // changes it with `alter`, packs it and publishes it as `published` through kx-release.
    void publish(const std::string& version, const std::string& published, const std::filesystem::path& key,
                 const std::function<void(const std::filesystem::path&)>& alter = {}) {
        auto folder = root / ("release-" + std::to_string(++releases));
        makeBundle(folder / "Kestrix", version, built("daemon/kestrixd"), std::nullopt);
        release({"sign-bundle", (folder / "Kestrix").string(), "--key", key.string()});
        if (alter) alter(folder / "Kestrix");
        auto archive = folder / ("Kestrix-" + published + "-linux-x86_64.tar.gz");
        writeTarGz(archive, entriesOf(folder, "Kestrix"));
        publishArchive(archive, published);
    }

    void publishArchive(const std::filesystem::path& archive, const std::string& published) {
        auto path = "/files/" + archive.filename().string();
        auto manifest = archive.parent_path() / "agent.json";
        release({"entry", archive.string(), "--version", published, "--url", server.url(path), "--manifest",
                 manifest.string()});
        release({"sign", manifest.string(), "--key", (root / "release.key").string()});
        server.serveBody(kManifestPath, readWholeFile(manifest).value());
        server.serveBody(path, readWholeFile(archive).value());
    }

    // `kestrixd check-update`, then `kestrixd update`; returns the latter's result.
    ChildProcess::Result checkAndUpdate(const std::string& offered) {
        auto check = agent->control({"check-update"});
        EXPECT_TRUE(has(check.standardOutput, "Update available: " + offered)) << check.standardError;
        return agent->control({"update"});
    }

    // Nothing changed: version 1.0.0 still runs from an untouched installation, no staging left.
    void expectUntouched() {
        EXPECT_EQ(client->call("agent.info").at("version"), JSONValue("1.0.0"));
        EXPECT_EQ(BundleFileList::scan(installation), installed);
        for (const auto& entry : std::filesystem::directory_iterator(root))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".Kestrix-update-")) << entry.path();
    }

    LocalHTTPSServer server;
    std::filesystem::path root, installation;
    BundleFileList installed;
    int releases = 0;
    std::unique_ptr<AgentProcess> agent;
    std::optional<ClientState> phone;
    std::unique_ptr<KxClient> client;
};

}  // namespace

TEST_F(SelfUpdateTest, ANewerReleaseIsDownloadedCheckedSwappedInAndAnswersOverANewConnection) {
    startAgent();
    publish("1.0.1", "1.0.1", root / "release.key");
    auto update = checkAndUpdate("1.0.1");
    EXPECT_TRUE(update.succeeded()) << update.standardOutput << update.standardError;
    EXPECT_TRUE(has(update.standardOutput, "Installing Kestrix 1.0.1")) << update.standardOutput;
    EXPECT_TRUE(has(update.standardOutput, "Downloading")) << update.standardOutput;
    EXPECT_TRUE(has(update.standardOutput, "Kestrix 1.0.1 is running.")) << update.standardOutput;

    auto events = updateEvents(*client);
    EXPECT_TRUE(contains(events, "downloading 0")) << ::testing::PrintToString(events);
    EXPECT_TRUE(contains(events, "downloading 100")) << ::testing::PrintToString(events);
    EXPECT_TRUE(contains(events, "verifying")) << ::testing::PrintToString(events);
    EXPECT_TRUE(contains(events, "installing")) << ::testing::PrintToString(events);
    EXPECT_EQ(agent->waitForExit(), 0);

    auto fresh = connectClient(*phone);
    EXPECT_EQ(fresh->call("agent.info").at("version"), JSONValue("1.0.1"));
    EXPECT_EQ(BundleLocation::versionOf(installation), "1.0.1");
    EXPECT_EQ(BundleFileList::scan(BundleInstaller::backupFor(installation)), installed);
}

// Each bad release leaves 1.0.0 running and intact with the reason the phone reads; a release that
// passes every check but does not start is swapped out again and the running 1.0.0 says so.
TEST_F(SelfUpdateTest, BadReleasesLeaveTheRunningVersionInPlaceWithTheirReasons) {
    startAgent();
    Key32 otherSeed{};
    otherSeed.fill(5);
    std::ofstream(root / "other.key") << base64URLEncode(otherSeed) << "\n";
    struct Row {
        std::string name;
        std::function<void()> publish;
        std::string reason;
    };
    const std::vector<Row> rows = {
        {"tampered archive",
         [&] {
             publish("1.0.1", "1.0.1", root / "release.key");
             auto archive = root / ("release-" + std::to_string(releases)) / "Kestrix-1.0.1-linux-x86_64.tar.gz";
             auto bytes = readWholeFile(archive).value();
             bytes[bytes.size() / 2] ^= 1;
             server.serveBody("/files/" + archive.filename().string(), bytes);
         },
         "The download did not match the published update"},
        {"signed by another key", [&] { publish("1.0.1", "1.0.1", root / "other.key"); },
         "The update is not signed by the Kestrix developer"},
        {"other version", [&] { publish("1.0.2", "1.0.1", root / "release.key"); },
         "The update is not the version that was published"},
        {"path traversal",
         [&] {
             auto archive = root / "Kestrix-1.0.1-linux-x86_64.tar.gz";
             writeTarGz(archive, {{"Kestrix/", TarEntry::Type::folder, {}, 0755},
                                  {"Kestrix/../../escaped", TarEntry::Type::file, "x"}});
             publishArchive(archive, "1.0.1");
         },
         "The update could not be unpacked"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.publish();
        auto update = checkAndUpdate("1.0.1");
        EXPECT_FALSE(update.succeeded());
        EXPECT_TRUE(has(update.standardOutput, "Update failed: " + row.reason)) << update.standardOutput;
        auto status = client->call("agent.update.status");
        EXPECT_EQ(status.at("message"), JSONValue("Update failed: " + row.reason));
        expectUntouched();
    }
    EXPECT_FALSE(std::filesystem::exists(root.parent_path() / "escaped"));

    publish("1.0.1", "1.0.1", root / "release.key", [&](const std::filesystem::path& bundle) {
        // Signed as published, but it cannot start: its agent exits at once.
        std::ofstream(bundle / "bin" / "kestrixd", std::ios::trunc) << "#!/bin/sh\nexit 1\n";
        release({"sign-bundle", bundle.string(), "--key", (root / "release.key").string()});
    });
    auto update = checkAndUpdate("1.0.1");
    const std::string putBack = "Update failed: Kestrix 1.0.1 did not start, so Kestrix 1.0.0 was put back";
    EXPECT_FALSE(update.succeeded());
    EXPECT_TRUE(has(update.standardOutput, putBack)) << update.standardOutput;
    EXPECT_EQ(agent->waitForExit(), 0);
    client = connectClient(*phone);
    auto status = client->call("agent.update.status");
    EXPECT_EQ(status.at("state"), JSONValue("failed"));
    EXPECT_EQ(status.at("message"), JSONValue(putBack));
    expectUntouched();
}

// After a good check, a check that fails (a manifest signed by another key, a host that answers
// 404) says so and exits non-zero instead of repeating the earlier result, which still stands.
TEST_F(SelfUpdateTest, AFailedCheckIsReportedAsAFailureAfterAGoodOne) {
    startAgent();
    server.serveBody(kManifestPath, signedManifest({.version = "0.0.1"}));
    auto good = agent->control({"check-update"});
    ASSERT_TRUE(good.succeeded()) << good.standardError;
    EXPECT_TRUE(has(good.standardOutput, "is up to date")) << good.standardOutput;

    Key32 otherSeed{};
    otherSeed.fill(7);
    const auto foreign = CanonicalJSON::serialize(CanonicalJSON::Value(manifestObject({.version = "999.0.0"})));
    const std::vector<std::pair<std::function<void()>, std::string>> rows = {
        {[&] { server.serveBody(kManifestPath, signManifest(foreign, otherSeed)); },
         "Update check failed: the manifest signature is not valid"},
        {[&] { server.serveStatus(kManifestPath, 404); }, "Update check failed: Unexpected manifest response"},
    };
    for (const auto& [serve, expected] : rows) {
        serve();
        auto failed = agent->control({"check-update"});
        EXPECT_FALSE(failed.succeeded());
        EXPECT_TRUE(has(failed.standardError, expected)) << failed.standardError;
        EXPECT_FALSE(has(failed.standardOutput, "up to date")) << failed.standardOutput;
    }
    EXPECT_TRUE(agent->statusShows("updates: upToDate"));
}
