#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "agent/permissions/PermissionProbing.h"
#include "agent/permissions/Requirement.h"
#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/support/PlatformText.h"
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
    EXPECT_EQ(probe.state(Requirement::tmux()), GrantState::granted);
    EXPECT_EQ(probe.prompt(Requirement::tmux()), GrantState::granted);
    fs::remove(link);
    EXPECT_EQ(probe.tmuxLookup()(), later);

    SystemPermissionProbe none({.tmuxCandidates = {}});
    EXPECT_FALSE(none.tmuxLookup()().has_value());
    EXPECT_EQ(none.state(Requirement::tmux()), GrantState::unavailable);
}

TEST(SystemPermissionProbe, PermissionsFollowTheInjectedChecksAndAreNeverDeniedWithoutThem) {
    bool canInject = true;
    SystemPermissionProbe probe({.tmuxCandidates = {},
                                 .inputCanBeInjected = [&] { return canInject; },
                                 .automationState =
                                     [](const std::string& id) {
                                         return id == "org.example.refused" ? GrantState::denied
                                                                            : GrantState::unavailable;
                                     }});
    EXPECT_EQ(probe.state(Requirement::accessibility()), GrantState::granted);
    canInject = false;
    EXPECT_EQ(probe.state(Requirement::accessibility()), GrantState::notDetermined);
    EXPECT_EQ(probe.prompt(Requirement::accessibility()), GrantState::notDetermined);
    EXPECT_EQ(probe.state(Requirement::automation("org.example.refused")), GrantState::denied);
    EXPECT_EQ(probe.prompt(Requirement::automation("org.example.gone")), GrantState::unavailable);

    SystemPermissionProbe unchecked({.tmuxCandidates = {}});
    for (const auto& requirement :
         {Requirement::accessibility(), Requirement::inputMonitoring(), Requirement::automation("org.example.app")})
        EXPECT_EQ(unchecked.state(requirement), GrantState::notDetermined);
}

namespace {

// Answers from a script and records the order of the questions.
class ScriptedProbe : public PermissionProbing {
public:
    GrantState state(const Requirement& requirement) const override {
        asked.push_back(requirement);
        return answers.at(asked.size() - 1);
    }
    GrantState prompt(const Requirement&) const override { return GrantState::denied; }

    std::vector<GrantState> answers;
    mutable std::vector<Requirement> asked;
};

}  // namespace

TEST(PermissionProbing, SnapshotAsksOncePerListedRequirementInOrderAndLaterAnswersWin) {
    ScriptedProbe probe;
    probe.answers = {GrantState::notDetermined, GrantState::unavailable, GrantState::granted};
    auto snapshot = probe.snapshot({Requirement::accessibility(), Requirement::tmux(), Requirement::accessibility()});

    EXPECT_EQ(probe.asked, (std::vector<Requirement>{Requirement::accessibility(), Requirement::tmux(),
                                                     Requirement::accessibility()}));
    EXPECT_EQ(snapshot, (std::map<Requirement, GrantState>{{Requirement::accessibility(), GrantState::granted},
                                                           {Requirement::tmux(), GrantState::unavailable}}));
    EXPECT_TRUE(probe.snapshot({}).empty());
}

#if !defined(__APPLE__)
// A phone shows these texts to the person at a Linux computer: none may speak of a Mac or its settings.
TEST(PlatformText, LinuxTextsNameNeitherAMacNorItsSettings) {
    std::vector<std::string> texts(PlatformText::all.begin(), PlatformText::all.end());
    for (const auto& requirement : {Requirement::accessibility(), Requirement::inputMonitoring(), Requirement::tmux(),
                                    Requirement::automation("org.example.app")}) {
        texts.push_back(requirement.rationale());
        texts.push_back(requirement.settingsURL().value_or(""));
        texts.push_back(requirement.remediation().value_or(""));
    }
    for (const auto& text : texts)
        for (const char* word : {"Mac", "macOS", "reopen", "System Settings", "brew", "x-apple", "Homebrew"})
            EXPECT_EQ(text.find(word), std::string::npos) << '"' << text << "\" holds " << word;
}
#endif
