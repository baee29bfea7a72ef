#include <gtest/gtest.h>

#include <vector>

#include "agent/permissions/PermissionProbing.h"

using namespace kx;

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
