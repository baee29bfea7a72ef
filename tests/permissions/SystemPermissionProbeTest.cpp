#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/support/PlatformText.h"
#include "platform/macos/PlatformWords.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::testing;
namespace fs = std::filesystem;

TEST(SystemPermissionProbe, TmuxIsTheFirstExecutableFileOrLinkToOneLookedUpOnEveryCall) {
    TempFolder folder;
    auto file = [&](const std::string& name, mode_t mode) {
        auto path = folder / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\n";
        ::chmod(path.c_str(), mode);
        return path.string();
    };
    auto notExecutable = file("homebrew/tmux", 0644);
    auto folderNamedTmux = (folder / "local/tmux").string();
    fs::create_directories(folderNamedTmux);
    auto link = (folder / "bin/tmux").string();
    fs::create_directories(folder / "bin");
    fs::create_symlink(file("real/tmux", 0755), link);
    auto later = file("opt/local/tmux", 0755);

    SystemPermissionProbe probe(
        {.tmuxCandidates = {notExecutable, folderNamedTmux, (folder / "nowhere/tmux").string(), link, later}});
    EXPECT_EQ(probe.tmuxPath(), link);
    EXPECT_EQ(probe.tmuxLookup()(), link);
    fs::remove(link);
    EXPECT_EQ(probe.tmuxLookup()(), later);

    EXPECT_FALSE(SystemPermissionProbe({.tmuxCandidates = {}}).tmuxLookup()().has_value());
}

#if !defined(__APPLE__)
// A phone shows these texts to the person at a Linux computer: none may speak of a Mac or its settings.
TEST(PlatformText, LinuxTextsNameNeitherAMacNorItsSettings) {
    for (const std::string text : PlatformText::all)
        for (const char* word : MacWords::all)
            EXPECT_EQ(text.find(word), std::string::npos) << '"' << text << "\" holds " << word;
}
#endif
