#include <gtest/gtest.h>

#include <fstream>

#include "agent/support/AtomicFile.h"
#include "agent/update/UpdatePreferences.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::testing;

TEST(UpdatePreferences, LiveInTheConfigurationFolderAndReadMistypedValuesAsOnAndKeepOtherSettings) {
    TempFolder folder;
    ScopedVariable configuration("XDG_CONFIG_HOME", (folder / "config").string());
    auto preferences = UpdatePreferences::standard();
    EXPECT_TRUE(preferences->automaticChecks());
    // The folder is created on the first write.
    preferences->setAutomaticChecks(false);
    auto file = folder / "config" / "Kestrix" / "settings.json";
    EXPECT_FALSE(UpdatePreferences(file).automaticChecks());

    for (const char* text : {"{\"checkForUpdatesAutomatically\": \"no\"}", "{\"checkForUpdatesAutomatically\": 0}",
                             "not json", "[false]"}) {
        std::ofstream(file) << text;
        EXPECT_TRUE(preferences->automaticChecks()) << text;
    }
    std::ofstream(file) << "{\"kx.openAtLogin.defaulted\": true}";
    preferences->setAutomaticChecks(false);
    EXPECT_FALSE(preferences->automaticChecks());
    EXPECT_NE(readWholeFile(file).value_or("").find("kx.openAtLogin.defaulted"), std::string::npos);
}
