#include <gtest/gtest.h>

#include <fstream>

#include "agent/support/AtomicFile.h"
#include "agent/update/UpdatePreferences.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::testing;

TEST(UpdatePreferences, MissingOrMistypedReadsAsOnAndWritesKeepOtherSettings) {
    TempFolder folder;
    auto file = folder / "Kestrix" / "settings.json";
    UpdatePreferences preferences(file);
    EXPECT_TRUE(preferences.automaticChecks());

    std::filesystem::create_directories(file.parent_path());
    for (const char* text : {"{\"checkForUpdatesAutomatically\": \"no\"}", "{\"checkForUpdatesAutomatically\": 0}",
                             "not json", "[false]"}) {
        std::ofstream(file) << text;
        EXPECT_TRUE(preferences.automaticChecks()) << text;
    }

    std::ofstream(file) << "{\"kx.openAtLogin.defaulted\": true}";
    preferences.setAutomaticChecks(false);
    EXPECT_FALSE(preferences.automaticChecks());
    EXPECT_FALSE(UpdatePreferences(file).automaticChecks());
    auto saved = readWholeFile(file);
    ASSERT_TRUE(saved.has_value());
    EXPECT_NE(saved->find("kx.openAtLogin.defaulted"), std::string::npos);
    preferences.setAutomaticChecks(true);
    EXPECT_TRUE(preferences.automaticChecks());

    // A folder that does not exist yet is created on the first write.
    UpdatePreferences fresh(folder / "new" / "settings.json");
    fresh.setAutomaticChecks(false);
    EXPECT_FALSE(fresh.automaticChecks());
}

TEST(UpdatePreferences, StandardLocationIsTheConfigurationFolderFoundAtFirstUse) {
    TempFolder folder;
    std::optional<std::string> saved;
    if (const char* current = std::getenv("XDG_CONFIG_HOME")) saved = current;
    ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    auto preferences = UpdatePreferences::standard();
    EXPECT_FALSE(std::filesystem::exists(folder / "config"));
    EXPECT_TRUE(preferences->automaticChecks());
    preferences->setAutomaticChecks(false);
    EXPECT_FALSE(UpdatePreferences(folder / "config" / "Kestrix" / "settings.json").automaticChecks());
    if (saved)
        ::setenv("XDG_CONFIG_HOME", saved->c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}
