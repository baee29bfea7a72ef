#include <gtest/gtest.h>

#include "platform/linux/update/BundleInstaller.h"

using namespace kx;

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
