#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "agent/permissions/PermissionCoordinator.h"
#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/support/PlatformText.h"
#include "platform/macos/PlatformWords.h"
#include "tests/app/ManualMainQueue.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const Requirement accessibility = Requirement::accessibility();
const Requirement tmux = Requirement::tmux();
constexpr auto granted = GrantState::granted;
constexpr auto notDetermined = GrantState::notDetermined;

// What the machine answers now; the test changes it between polls.
class ScriptedProbe : public PermissionProbing {
public:
    GrantState state(const Requirement& requirement) const override {
        ++looks;
        auto entry = answers.find(requirement);
        return entry == answers.end() ? GrantState::unavailable : entry->second;
    }
    GrantState prompt(const Requirement& requirement) const override {
        ++prompts;
        return state(requirement);
    }
    std::map<Requirement, GrantState> answers;
    mutable int looks = 0;
    mutable int prompts = 0;
};

}  // namespace

TEST(OnboardingEvaluator, StepsAndAdvisories) {
    using Grants = OnboardingEvaluator::Grants;
    const OnboardingEvaluator onboarding{Requirement::onboarding()};
    struct Case {
        const char* name;
        OnboardingEvaluator evaluator;
        Grants current;
        Grants atLaunch;
        OnboardingStep step;
    };
    // On this platform a grant takes effect at once: nothing waits for a restart.
    const Case cases[] = {
        {"nothing probed", onboarding, {}, {}, OnboardingStep::checking()},
        {"nothing probed, nothing required", {{}}, {}, {}, OnboardingStep::checking()},
        {"nothing required", {{}}, {{tmux, granted}}, {}, OnboardingStep::ready()},
        {"granted throughout",
         onboarding,
         {{accessibility, granted}, {tmux, GrantState::unavailable}},
         {{accessibility, granted}},
         OnboardingStep::ready()},
        {"granted since launch",
         onboarding,
         {{accessibility, granted}},
         {{accessibility, notDetermined}},
         OnboardingStep::ready()},
        {"not determined",
         onboarding,
         {{accessibility, notDetermined}},
         {{accessibility, granted}},
         OnboardingStep::needs(accessibility)},
        {"denied", onboarding, {{accessibility, GrantState::denied}}, {}, OnboardingStep::needs(accessibility)},
        {"blocking one unprobed", onboarding, {{tmux, granted}}, {}, OnboardingStep::checking()},
    };
    for (const auto& c : cases) EXPECT_EQ(c.evaluator.step(c.current, c.atLaunch), c.step) << c.name;

    EXPECT_EQ(onboarding.advisories({{accessibility, granted}, {tmux, GrantState::unavailable}}),
              std::vector<Requirement>{tmux});
    EXPECT_EQ(onboarding.advisories({{accessibility, granted}}), std::vector<Requirement>{tmux});
    EXPECT_TRUE(onboarding.advisories({{accessibility, notDetermined}, {tmux, granted}}).empty());
}

TEST(PermissionCoordinator, PollsEverySecondUntilReadyAndAgainWhenNoLongerReady) {
    auto main = std::make_shared<kx::testing::ManualMainQueue>();
    auto probe = std::make_shared<ScriptedProbe>();
    probe->answers = {{accessibility, notDetermined}, {tmux, granted}};
    int changes = 0;
    auto coordinator =
        PermissionCoordinator::make({.probe = probe, .evaluator = {Requirement::onboarding()}, .main = main});
    coordinator->setOnChange([&] { ++changes; });
    EXPECT_EQ(coordinator->step(), OnboardingStep::needs(accessibility));
    EXPECT_TRUE(coordinator->advisories().empty());
    EXPECT_TRUE(coordinator->isPolling());
    coordinator->startPolling();  // a second start leaves one poll
    EXPECT_EQ(main->liveRepeats(), 1u);

    main->advance(999ms);
    EXPECT_EQ(changes, 0);
    main->advance(1ms);
    EXPECT_EQ(changes, 1);  // published also when nothing changed

    probe->answers = {{accessibility, granted}, {tmux, GrantState::unavailable}};
    main->advance(1s);
    EXPECT_EQ(coordinator->step(), OnboardingStep::ready());
    EXPECT_EQ(coordinator->advisories(), std::vector<Requirement>{tmux});
    EXPECT_FALSE(coordinator->isPolling());
    EXPECT_EQ(main->liveRepeats(), 0u);
    int looks = probe->looks;
    main->advance(5s);
    EXPECT_EQ(probe->looks, looks);  // no poll once ready

    // The grant action re-probes at once, opens nothing here, and polling resumes when needed.
    probe->answers[accessibility] = GrantState::denied;
    coordinator->request(tmux);
    EXPECT_EQ(probe->prompts, 1);
    EXPECT_EQ(coordinator->step(), OnboardingStep::needs(accessibility));
    EXPECT_TRUE(coordinator->isPolling());

    // Polling never outlives the coordinator.
    coordinator.reset();
    main->advance(3s);
}

TEST(SystemPermissionProbe, TmuxIsTheFirstExecutableFileOrLinkToOneLookedUpOnEveryCall) {
    kx::testing::TempFolder folder;
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
