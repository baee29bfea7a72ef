#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <unordered_set>

#include "agent/permissions/SystemPermissionProbe.h"

using namespace kx;
namespace fs = std::filesystem;

namespace {

class TmuxLookup : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("kx-probe-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string file(const std::string& name, mode_t mode) {
        auto path = folder_ / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\n";
        ::chmod(path.c_str(), mode);
        return path.string();
    }

    fs::path folder_;
};

}  // namespace

TEST_F(TmuxLookup, FirstExecutableRegularFileWins) {
    auto notExecutable = file("homebrew/tmux", 0644);
    auto folderNamedTmux = (folder_ / "local/tmux").string();
    fs::create_directories(folderNamedTmux);
    auto missing = (folder_ / "nowhere/tmux").string();
    auto usrBin = file("usr/bin/tmux", 0755);
    auto later = file("opt/local/tmux", 0755);

    SystemPermissionProbe probe({.tmuxCandidates = {notExecutable, folderNamedTmux, missing, usrBin, later}});
    EXPECT_EQ(probe.tmuxPath(), usrBin);
    EXPECT_EQ(probe.tmuxLookup()(), usrBin);
    EXPECT_EQ(probe.state(Requirement::tmux()), GrantState::granted);
    EXPECT_EQ(probe.prompt(Requirement::tmux()), GrantState::granted);

    // The lookup looks again on every call, so removing tmux is noticed.
    fs::remove(usrBin);
    EXPECT_EQ(probe.tmuxLookup()(), later);
}

TEST_F(TmuxLookup, SymlinkToAnExecutableCounts) {
    auto target = file("real/tmux", 0755);
    auto link = folder_ / "bin/tmux";
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
    EXPECT_EQ(SystemPermissionProbe::firstExecutable({link.string()}), link.string());
}

TEST(SystemPermissionProbe, NoTmuxIsUnavailable) {
    SystemPermissionProbe probe({.tmuxCandidates = {}});
    EXPECT_FALSE(probe.tmuxPath().has_value());
    EXPECT_FALSE(probe.tmuxLookup()().has_value());
    EXPECT_EQ(probe.state(Requirement::tmux()), GrantState::unavailable);
}

TEST(SystemPermissionProbe, AccessibilityFollowsTheInjectedCheckAndIsNeverDenied) {
    bool canInject = true;
    SystemPermissionProbe probe({.tmuxCandidates = {}, .inputCanBeInjected = [&] { return canInject; }});
    EXPECT_EQ(probe.state(Requirement::accessibility()), GrantState::granted);
    canInject = false;
    EXPECT_EQ(probe.state(Requirement::accessibility()), GrantState::notDetermined);
    EXPECT_EQ(probe.prompt(Requirement::accessibility()), GrantState::notDetermined);

    SystemPermissionProbe unchecked({.tmuxCandidates = {}});
    EXPECT_EQ(unchecked.state(Requirement::accessibility()), GrantState::notDetermined);
    EXPECT_EQ(unchecked.state(Requirement::inputMonitoring()), GrantState::notDetermined);
    EXPECT_EQ(unchecked.state(Requirement::automation("org.example.browser")), GrantState::notDetermined);
}

TEST(SystemPermissionProbe, AutomationAsksTheInjectedCheckWithTheBundleID) {
    SystemPermissionProbe probe({.tmuxCandidates = {}, .automationState = [](const std::string& id) {
                                     return id == "org.example.refused" ? GrantState::denied : GrantState::unavailable;
                                 }});
    EXPECT_EQ(probe.state(Requirement::automation("org.example.refused")), GrantState::denied);
    EXPECT_EQ(probe.prompt(Requirement::automation("org.example.gone")), GrantState::unavailable);
}

TEST(Requirement, ComparesByCaseAndPayload) {
    EXPECT_EQ(Requirement::automation("a"), Requirement::automation("a"));
    EXPECT_NE(Requirement::automation("a"), Requirement::automation("b"));
    EXPECT_NE(Requirement::accessibility(), Requirement::tmux());
    std::unordered_set<Requirement> set{Requirement::automation("a"), Requirement::automation("a"),
                                        Requirement::automation("b"), Requirement::tmux()};
    EXPECT_EQ(set.size(), 3u);
}

TEST(Requirement, OnboardingBlocksOnAccessibilityAndAdvisesTmux) {
    const auto& list = Requirement::onboarding();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], Requirement::accessibility());
    EXPECT_EQ(list[0].necessity(), Necessity::blocking);
    EXPECT_TRUE(list[0].requiresRelaunchAfterGrant());
    EXPECT_EQ(list[1], Requirement::tmux());
    EXPECT_EQ(list[1].necessity(), Necessity::advisory);
    EXPECT_EQ(list[1].remediation(), std::string(kTmuxInstallCommand));
    EXPECT_FALSE(list[1].settingsURL().has_value());
    EXPECT_EQ(Requirement::automation("org.example.app").title(), "Control org.example.app");
}
