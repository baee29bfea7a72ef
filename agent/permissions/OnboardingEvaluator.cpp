#include "agent/permissions/OnboardingEvaluator.h"

namespace kx {

namespace {
bool granted(const OnboardingEvaluator::Grants& grants, const Requirement& requirement) {
    auto entry = grants.find(requirement);
    return entry != grants.end() && entry->second == GrantState::granted;
}
}  // namespace

OnboardingStep OnboardingEvaluator::step(const Grants& current, const Grants& atLaunch) const {
    if (current.empty()) return OnboardingStep::checking();
    for (const auto& requirement : requirements) {
        if (requirement.necessity() != Necessity::blocking) continue;
        if (!current.contains(requirement)) return OnboardingStep::checking();
        if (!granted(current, requirement)) return OnboardingStep::needs(requirement);
        if (requirement.requiresRelaunchAfterGrant() && !granted(atLaunch, requirement))
            return OnboardingStep::needsRelaunch(requirement);
    }
    return OnboardingStep::ready();
}

std::vector<Requirement> OnboardingEvaluator::advisories(const Grants& current) const {
    std::vector<Requirement> list;
    for (const auto& requirement : requirements)
        if (requirement.necessity() == Necessity::advisory && !granted(current, requirement))
            list.push_back(requirement);
    return list;
}

}  // namespace kx
