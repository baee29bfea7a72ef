#pragma once

#include <optional>

#include "agent/permissions/Requirement.h"

namespace kx {

// Where onboarding stands: checking (no probe yet), needs(R) (a blocking requirement is not
// granted), needsRelaunch(R) (granted after launch, where the platform only applies it to a
// fresh process), or ready.
struct OnboardingStep {
    enum class Case { needs, needsRelaunch, checking, ready };

    Case which = Case::checking;
    std::optional<Requirement> requirement;  // needs and needsRelaunch

    static OnboardingStep needs(Requirement r) { return {Case::needs, std::move(r)}; }
    static OnboardingStep needsRelaunch(Requirement r) { return {Case::needsRelaunch, std::move(r)}; }
    static OnboardingStep checking() { return {Case::checking, std::nullopt}; }
    static OnboardingStep ready() { return {Case::ready, std::nullopt}; }

    bool isReady() const { return which == Case::ready; }

    friend bool operator==(const OnboardingStep&, const OnboardingStep&) = default;
};

}  // namespace kx
