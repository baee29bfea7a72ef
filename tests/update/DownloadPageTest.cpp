#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "agent/update/BrowserOpener.h"
#include "agent/update/DownloadPageInstaller.h"
#include "tests/support/ScopedVariable.h"
#include "tests/update/UpdateDoubles.h"

using namespace kx;
using namespace kx::testing;

// The preflight's text says the download page is open only when xdg-open (a stand-in on a PATH of
// its own, or none) showed it; otherwise it gives the page's address.
TEST(DownloadPage, TheFailureSaysThePageIsOpenOnlyWhenItOpened) {
    const std::string page = "https://updates.example.org/download/";
    const std::string problem = "Update failed: This installation of Kestrix cannot replace itself. ";
    const std::vector<std::pair<std::optional<std::string>, std::string>> rows = {
        {std::nullopt, problem + "Download the new version from " + page},
        {"exit 3", problem + "Download the new version from " + page},
        {"[ \"$1\" = " + page + " ]", problem + "The download page is open on the computer"},
    };
    for (const auto& [opener, message] : rows) {
        SCOPED_TRACE(opener.value_or("no xdg-open"));
        TempFolder bin;
        if (opener) {
            std::ofstream(bin / "xdg-open") << "#!/bin/sh\n" << *opener << "\n";
            ::chmod((bin / "xdg-open").c_str(), 0755);
        }
        ScopedVariable path("PATH", bin.path().string());
        FakeParts fakes;
        auto parts = fakes.parts();
        parts.installer = std::make_shared<DownloadPageInstaller>(page, openInBrowser);
        fakes.fetcher->serve(signedManifest({.sha256 = sha256Hex(fakes.downloader->contents),
                                             .size = static_cast<std::int64_t>(fakes.downloader->contents.size())}));
        UpdateService service(std::move(parts));
        EXPECT_EQ(service.checkNow(), std::nullopt);
        service.install().wait();
        EXPECT_EQ(service.status().message, message);
        EXPECT_EQ(fakes.downloader->calls, 0);
    }
}
