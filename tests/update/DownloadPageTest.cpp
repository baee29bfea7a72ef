#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "agent/update/BrowserOpener.h"
#include "agent/update/DownloadPageInstaller.h"
#include "tests/support/ScopedVariable.h"
#include "tests/update/UpdateDoubles.h"

using namespace kx;
using namespace kx::testing;

// The preflight's text says the download page is open only when xdg-open showed it; otherwise it
// gives the page's address. The opener is a stand-in xdg-open on a PATH of its own.
TEST(DownloadPage, TheFailureSaysThePageIsOpenOnlyWhenItOpened) {
    const std::string page = "https://updates.example.org/download/";
    const std::string problem = "Update failed: This installation of Kestrix cannot replace itself. ";
    struct Row {
        std::optional<std::string> opener;  // the stand-in's body; absent: no xdg-open at all
        std::string message;
    };
    const std::vector<Row> rows = {
        {std::nullopt, problem + "Download the new version from " + page},
        {"exit 3", problem + "Download the new version from " + page},
        {"echo \"$1\" > \"${0%/*}/opened\"", problem + "The download page is open on the computer"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.opener.value_or("no xdg-open"));
        TempFolder bin;
        if (row.opener) {
            std::ofstream(bin / "xdg-open") << "#!/bin/sh\n" << *row.opener << "\n";
            ::chmod((bin / "xdg-open").c_str(), 0755);
        }
        ScopedVariable path("PATH", bin.path().string());
        FakeParts fakes;
        auto parts = fakes.parts();
        parts.installer = std::make_shared<DownloadPageInstaller>(page, openInBrowser);
        ReleaseFields fields;
        fields.size = static_cast<std::int64_t>(fakes.downloader->contents.size());
        fields.sha256 = sha256Hex(fakes.downloader->contents);
        fakes.fetcher->serve(signedManifest(fields));
        UpdateService service(std::move(parts));
        EXPECT_EQ(service.checkNow(), std::nullopt);
        service.install().wait();

        EXPECT_EQ(service.status().state, UpdateState::failed);
        EXPECT_EQ(service.status().message, row.message);
        EXPECT_EQ(fakes.downloader->calls, 0);
        if (row.opener && row.opener->starts_with("echo")) {
            std::ifstream opened(bin / "opened");
            std::string url;
            EXPECT_TRUE(std::getline(opened, url));
            EXPECT_EQ(url, page);
        }
    }
}
