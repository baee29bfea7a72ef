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

class HTTPSUpdateTest : public ::testing::Test {
protected:
    LocalHTTPSServer server;
    TempFolder downloads;
    HTTPSettings settings;
    // Downloads land in the temporary folder: one of this test's own.
    kx::testing::ScopedVariable temporaryFolder{"TMPDIR", downloads.path().string()};

    void SetUp() override {
        if (!server.ready()) GTEST_SKIP() << "python3 or openssl missing: no local HTTPS server";
        settings = {updateUserAgent("1.2.0", "linux"), server.caFile()};
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

    // A short body is kept whole (the exact size and digest are the service's checks), with progress
    // after each 64 KiB read, and the request names the agent.
    server.serveFiller("/small.zip", 70'000);
    reported.clear();
    auto file = downloader.download(server.url("/small.zip"), 100'000,
                                    [&](std::int64_t bytes) { reported.push_back(bytes); }, {});
    EXPECT_EQ(std::filesystem::file_size(file), 70'000u);
    EXPECT_EQ(file.parent_path(), downloads.path());
    EXPECT_EQ(reported, (std::vector<std::int64_t>{65'536, 70'000}));
    EXPECT_EQ(server.requests().back(), "/small.zip KestrixAgent/1.2.0 (linux)");
}
