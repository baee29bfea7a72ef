#include <gtest/gtest.h>

#include "agent/update/HTTPManifestFetcher.h"
#include "agent/update/HTTPUpdateDownloader.h"
#include "agent/update/UpdateEndpoint.h"
#include "tests/support/ClosedPort.h"
#include "tests/support/ScopedVariable.h"
#include "tests/update/LocalHTTPSServer.h"
#include "tests/update/UpdateDoubles.h"

using namespace kx;
using namespace kx::testing;

namespace {

constexpr const char* kManifestPath = "/updates/agent.json";

class HTTPSUpdateTest : public ::testing::Test {
protected:
    LocalHTTPSServer server;
    TempFolder downloads;
    HTTPSettings settings;
    FakeParts fakes;
    StatusRecorder recorder;
    // Downloads land in the temporary folder; give them one of this test's own (set after the
    // doubles above, which keep folders of their own there, and kept until the service is gone).
    kx::testing::ScopedVariable temporaryFolder{"TMPDIR", downloads.path().string()};
    std::shared_ptr<UpdateService> service;

    void SetUp() override {
        if (!server.ready()) GTEST_SKIP() << "python3 or openssl missing: no local HTTPS server";
        settings = {updateUserAgent("1.2.0", "linux"), server.caFile()};
        auto parts = fakes.parts();
        parts.fetcher = std::make_shared<HTTPManifestFetcher>(server.url(kManifestPath), settings);
        parts.downloader = std::make_shared<HTTPUpdateDownloader>(settings);
        service = std::make_shared<UpdateService>(std::move(parts));
        service->setOnChange([this](const UpdateStatus& status) { recorder(status); });
    }

    std::optional<std::string> fetchFailure(const std::string& url, const HTTPSettings& with) {
        try {
            HTTPManifestFetcher(url, with).fetch({});
            return std::nullopt;
        } catch (const UpdateFailure& failure) {
            return failure.reason;
        } catch (const std::exception& error) {
            return std::string("transport: ") + error.what();
        }
    }
};

}  // namespace

TEST_F(HTTPSUpdateTest, FetcherAcceptsOnlyStatus200UpToOneMebibyteFromATrustedHost) {
    server.serveFiller("/exact", HTTPManifestFetcher::maxManifestBytes);
    EXPECT_EQ(HTTPManifestFetcher(server.url("/exact"), settings).fetch({}).size(),
              HTTPManifestFetcher::maxManifestBytes);
    server.serveFiller("/over", HTTPManifestFetcher::maxManifestBytes + 1);
    EXPECT_EQ(fetchFailure(server.url("/over"), settings), "Unexpected manifest response");
    server.serveStatus("/not-modified", 304);
    EXPECT_EQ(fetchFailure(server.url("/not-modified"), settings), "Unexpected manifest response");
    server.serveFiller("/missing", 100, 404);
    EXPECT_EQ(fetchFailure(server.url("/missing"), settings), "Unexpected manifest response");

    // Neither a host outside the trusted authorities nor a redirect to plain HTTP is followed.
    auto transportFailure = [](const std::optional<std::string>& failure) {
        return failure && failure->starts_with("transport: ");
    };
    EXPECT_TRUE(transportFailure(fetchFailure(server.url("/exact"), {settings.userAgent, std::nullopt})));
    server.serveStatus("/moved", 302, "http://127.0.0.1:" + std::to_string(server.port()) + "/exact");
    EXPECT_TRUE(fetchFailure(server.url("/moved"), settings).has_value());
    EXPECT_TRUE(
        transportFailure(fetchFailure("https://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/", settings)));
}

TEST_F(HTTPSUpdateTest, DownloadStopsAtTheFirstBufferPastThePublishedSizeAndLeavesNoFile) {
    server.serveFiller("/big.zip", 1'000'000);
    std::vector<std::int64_t> reported;
    HTTPUpdateDownloader downloader(settings);
    try {
        downloader.download(server.url("/big.zip"), 100'000, [&](std::int64_t bytes) { reported.push_back(bytes); },
                            {});
        ADD_FAILURE() << "an oversized download was accepted";
    } catch (const UpdateFailure& failure) {
        EXPECT_EQ(failure.reason, "The download did not match the published update");
    }
    EXPECT_EQ(reported, std::vector<std::int64_t>{65'536});
    EXPECT_TRUE(std::filesystem::is_empty(downloads.path()));

    auto failureOf = [&](const std::string& url) -> std::string {
        try {
            downloader.download(url, 100, [](std::int64_t) {}, {});
            return "";
        } catch (const UpdateFailure& failure) {
            return failure.reason;
        }
    };
    EXPECT_EQ(failureOf("http://127.0.0.1:" + std::to_string(server.port()) + "/big.zip"),
              "The update address is not secure");
    EXPECT_EQ(failureOf(server.url("/nothing-here.zip")), "Could not download the update");
    EXPECT_TRUE(std::filesystem::is_empty(downloads.path()));

    // A short body is kept whole: the exact size is the service's check.
    server.serveFiller("/small.zip", 70'000);
    auto file = downloader.download(server.url("/small.zip"), 100'000, [](std::int64_t) {}, {});
    EXPECT_EQ(std::filesystem::file_size(file), 70'000u);
    EXPECT_EQ(file.parent_path(), downloads.path());
}

TEST_F(HTTPSUpdateTest, MatchingDownloadIsCheckedAndHandedToTheVerifier) {
    std::string archive(300'000, '\0');
    for (std::size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>(i * 7);
    server.serveBody("/files/Kestrix.zip", archive);
    ReleaseFields fields;
    fields.url = server.url("/files/Kestrix.zip");
    fields.size = static_cast<std::int64_t>(archive.size());
    fields.sha256 = sha256Hex(archive);
    server.serveBody(kManifestPath, signedManifest(fields));
    service->checkNow();
    ASSERT_EQ(service->status().state, UpdateState::available);
    service->install().wait();

    EXPECT_EQ(service->status().state, UpdateState::installing);
    EXPECT_EQ(fakes.verifier->archiveContents, std::vector{archive});
    EXPECT_EQ(fakes.installer->installed.size(), 1u);
    // Progress came in 64 KiB steps: 21 %, 43 %, 65 %, 87 %, then the rest.
    std::vector<double> progress;
    for (const auto& status : recorder.statuses()) {
        if (status.state == UpdateState::downloading) progress.push_back(*status.progress);
    }
    EXPECT_EQ(progress, (std::vector<double>{0.0, 0.21, 0.43, 0.65, 0.87, 1.0}));
    EXPECT_TRUE(std::filesystem::is_empty(downloads.path()));
    EXPECT_EQ(server.requests().back(), "/files/Kestrix.zip KestrixAgent/1.2.0 (linux)");
}
