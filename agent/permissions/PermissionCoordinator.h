#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "agent/permissions/OnboardingEvaluator.h"
#include "agent/permissions/PermissionProbing.h"
#include "agent/support/MainQueue.h"

namespace kx {

// What the onboarding window and the menu show about permissions: probes the requirements,
// decides the step and keeps it fresh by polling until the step is ready. Main thread only.
class PermissionCoordinator : public std::enable_shared_from_this<PermissionCoordinator> {
public:
    static constexpr std::chrono::milliseconds defaultPollInterval{1000};

    struct Parts {
        std::shared_ptr<const PermissionProbing> probe;
        OnboardingEvaluator evaluator;
        std::shared_ptr<MainQueue> main;
        std::chrono::milliseconds pollInterval = defaultPollInterval;
        // Opens a settings address; absent where the platform has no settings panes.
        std::function<void(const std::string& url)> openSettings = {};
        // Starts a fresh copy of the application and quits this one.
        std::function<void()> relaunch = {};
    };

    // Takes the at-launch probe and refreshes once.
    static std::shared_ptr<PermissionCoordinator> make(Parts parts);

    const OnboardingStep& step() const { return step_; }
    const std::vector<Requirement>& advisories() const { return advisories_; }
    const OnboardingEvaluator::Grants& current() const { return current_; }
    bool isPolling() const { return pollTask_ != nullptr; }

    // Called after every refresh, also when nothing changed.
    void setOnChange(std::function<void()> callback) { onChange_ = std::move(callback); }

    // Probe, decide, publish; polls while the step is not ready and stops once it is.
    void refresh();
    void startPolling();
    void stopPolling();
    // The onboarding window's grant action: ask where the platform can, open its settings, re-probe.
    void request(const Requirement& requirement);
    void openSettings(const Requirement& requirement);
    void relaunch();

private:
    explicit PermissionCoordinator(Parts parts);

    Parts parts_;
    OnboardingStep step_ = OnboardingStep::checking();
    std::vector<Requirement> advisories_;
    OnboardingEvaluator::Grants current_;
    OnboardingEvaluator::Grants atLaunch_;
    std::unique_ptr<MainQueue::Repeat> pollTask_;
    std::function<void()> onChange_;
};

}  // namespace kx
