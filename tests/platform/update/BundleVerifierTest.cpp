#include <gtest/gtest.h>

#include <functional>

#include "agent/update/UpdateFailure.h"
#include "platform/linux/update/BundleInstaller.h"
#include "platform/linux/update/BundleVerifier.h"
#include "tests/support/TempFolder.h"
#include "tests/update/TestBundle.h"

using namespace kx;
using namespace kx::testing;

namespace {

constexpr const char* kUnpack = "The update could not be unpacked";
constexpr const char* kNoKestrix = "The update did not contain Kestrix";
constexpr const char* kNotSigned = "The update is not signed by the Kestrix developer";

UpdateRelease releaseOf(const std::string& version) {
    UpdateRelease release;
    release.version = *AgentVersion::parse(version);
    return release;
}

}  // namespace

// Each archive that must be refused, with the reason the user reads; none leaves a staging folder.
// (A foreign key, another version and ".." are refused in the end-to-end test.)
TEST(BundleVerifier, RefusesEveryUnsafeOrUnsignedArchiveWithItsReasonAndCleansUp) {
    TempFolder work;
    auto source = work / "source";
    makeBundle(source / "Kestrix", "1.3.0", "/bin/true");
    const auto good = entriesOf(source, "Kestrix");
    auto with = [&](std::vector<TarEntry> extra) {
        auto entries = good;
        entries.insert(entries.end(), extra.begin(), extra.end());
        return entries;
    };
    // The good entries with kestrixd's entry changed.
    auto changed = [&](const std::function<void(TarEntry&)>& change) {
        auto entries = good;
        for (auto& entry : entries)
            if (entry.path == "Kestrix/bin/kestrixd") change(entry);
        return entries;
    };
    std::vector<TarEntry> manyEntries{{"Kestrix/", TarEntry::Type::folder, {}, 0755}};
    // The same folder again and again: the count is of entries, not of distinct files.
    for (int i = 0; i < 10'000; ++i) manyEntries.push_back({"Kestrix/f/", TarEntry::Type::folder, {}, 0755});

    struct Row {
        std::string name;
        std::vector<TarEntry> entries;
        std::string reason;
    };
    const std::vector<Row> rows = {
        {"absolute path", with({{"/tmp/kx-escape", TarEntry::Type::file, "x"}}), kUnpack},
        {"link outside", with({{"Kestrix/out", TarEntry::Type::symlink, "../../etc"}}), kUnpack},
        {"absolute link", with({{"Kestrix/out", TarEntry::Type::symlink, "/etc/passwd"}}), kUnpack},
        {"hard link outside", with({{"Kestrix/out", TarEntry::Type::hardlink, "../etc/passwd"}}), kUnpack},
        {"device", with({{"Kestrix/null", TarEntry::Type::device}}), kUnpack},
        {"10,001 entries", manyEntries, kUnpack},
        {"second top folder", with({{"Other/", TarEntry::Type::folder, {}, 0755}}), kNoKestrix},
        {"inside a subfolder", {{"x/", TarEntry::Type::folder, {}, 0755}}, kNoKestrix},
        {"changed file", changed([](TarEntry& entry) { entry.content = "#!/bin/sh\n"; }), kNotSigned},
        {"extra file", with({{"Kestrix/bin/extra", TarEntry::Type::file, "x", 0755}}), kNotSigned},
        {"link inside, unlisted", with({{"Kestrix/in", TarEntry::Type::symlink, "version"}}), kNotSigned},
        {"lost executable bit", changed([](TarEntry& entry) { entry.mode = 0644; }), kNotSigned},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder install;
        writeTarGz(work / "update.tar.gz", row.entries);
        BundleVerifier verifier(install.path(), testPublicKey());
        try {
            verifier.prepare(work / "update.tar.gz", releaseOf("1.3.0"));
            ADD_FAILURE() << "accepted";
        } catch (const UpdateFailure& failure) {
            EXPECT_EQ(failure.reason, row.reason);
        }
        EXPECT_TRUE(std::filesystem::is_empty(install.path()));
        EXPECT_FALSE(std::filesystem::exists("/tmp/kx-escape"));
    }

    TempFolder install;
    writeTarGz(work / "update.tar.gz", good);
    auto prepared = BundleVerifier(install.path(), testPublicKey()).prepare(work / "update.tar.gz", releaseOf("1.3.0"));
    EXPECT_EQ(prepared.filename(), "Kestrix");
    EXPECT_EQ(prepared.parent_path().parent_path(), install.path());
    EXPECT_EQ(BundleFileList::scan(prepared), BundleFileList::scan(source / "Kestrix"));
}

// The three location problems in the order they are tested, each with its text for a page that
// opened and for one that did not; a writable bundle outside temporary folders has none.
TEST(BundleInstaller, LocationProblemsAreFoundInOrderWithBothTexts) {
    const std::string page = "https://updates.example.org/download/";
    const std::string open = "The download page is open on the computer";
    const std::string at = "Download the new version from " + page;
    struct Row {
        std::string executable;
        bool bundle;
        bool writable;
        std::optional<std::string> reason, reasonWithoutPage;
    };
    const std::string packaged =
        "Kestrix was installed with the package manager, so it cannot replace itself: update it with sudo apt "
        "update && sudo apt upgrade. ";
    const std::string temporary =
        "Kestrix is running from a temporary location. Move it to a folder in your home "
        "folder, or ";
    const std::vector<Row> rows = {
        {"/usr/bin/kestrixd", false, true, packaged + open, packaged + at},
        {"/home/u/src/kestrix/build/daemon/kestrixd", false, true,
         "Kestrix is not running as an app, so it cannot replace itself. " + open,
         "Kestrix is not running as an app, so it cannot replace itself. " + at},
        {"/tmp/Kestrix/bin/kestrixd", true, false, temporary + "use the download page now open on the computer",
         temporary + "download the new version from " + page},
        {"/var/tmp/x/Kestrix/bin/kestrixd", true, true, temporary + "use the download page now open on the computer",
         temporary + "download the new version from " + page},
        {"/home/u/Kestrix/bin/kestrixd", true, false, "Kestrix cannot replace itself in the folder it is in. " + open,
         "Kestrix cannot replace itself in the folder it is in. " + at},
        {"/home/u/tmpfiles/Kestrix/bin/kestrixd", true, true, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.executable);
        BundleInstaller::Settings settings;
        settings.location.executable = row.executable;
        if (row.bundle) settings.location.root = std::filesystem::path(row.executable).parent_path().parent_path();
        settings.downloadPageURL = page;
        settings.isWritable = [&](const std::filesystem::path& folder) {
            EXPECT_EQ(folder, settings.location.root->parent_path());
            return row.writable;
        };
        settings.temporaryFolders = {"/tmp", "/var/tmp"};
        auto problem = BundleInstaller::locationProblem(settings);
        EXPECT_EQ(problem.has_value(), row.reason.has_value());
        if (!problem || !row.reason) continue;
        EXPECT_EQ(problem->reason, *row.reason);
        EXPECT_EQ(problem->reasonWithoutPage, row.reasonWithoutPage);
    }
}
