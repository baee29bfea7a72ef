#pragma once

#include <map>
#include <vector>

#include "agent/permissions/GrantState.h"
#include "agent/permissions/OnboardingStep.h"
#include "agent/permissions/Requirement.h"

namespace kx {

// Decides the onboarding step from probe results. Pure; usable from any thread.
struct OnboardingEvaluator {
    using Grants = std::map<Requirement, GrantState>;

    std::vector<Requirement> requirements;  // order matters: the first blocking gap is shown

    // checking while nothing has been probed; otherwise the first blocking requirement that is
    // unprobed (checking), not granted (needs) or granted only since launch (needsRelaunch).
    OnboardingStep step(const Grants& current, const Grants& atLaunch) const;
    // The advisory requirements, in list order, that are not granted.
    std::vector<Requirement> advisories(const Grants& current) const;
};

}  // namespace kx
