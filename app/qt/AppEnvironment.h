#pragma once

#include <QSystemTrayIcon>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "agent/service/AgentServiceOptions.h"
#include "agent/transport/TransportState.h"
#include "app/model/ShutdownPanelController.h"
#include "daemon/CoreControlCommands.h"

namespace kx {

class AgentModel;
class ConfirmRunWindow;
class DesktopControl;
class MenuWindow;
class OnboardingWindow;
class PermissionCoordinator;
class QtMainQueue;
class ShutdownPanel;

struct AppSettings {
    std::filesystem::path dataFolder;  // absolute, canonical, created
    ListenSettings listen;
    std::string version;
    std::optional<std::string> updateBaseURL;
    std::vector<std::string> command;  // what starts this app again (open at login)
    std::chrono::steady_clock::time_point started;
};

// The app's long-lived objects: the permission coordinator, the agent model, the tray icon and
// the windows, and the control socket once the agent runs. Lives as long as the process.
class AppEnvironment {
public:
    explicit AppEnvironment(AppSettings settings);
    ~AppEnvironment();

    // Shows the onboarding window when asked or when something blocking is missing; otherwise
    // starts the agent, and with `pair` shows a pairing code at once.
    void launch(bool showSetup, bool pair);

private:
    void modelChanged();
    void permissionsChanged();
    void agentStarted();
    void syncConfirmations();
    void updateTray();
    void logTransport(const TransportState& state);

    AppSettings settings_;
    std::shared_ptr<QtMainQueue> main_;
    AgentServiceOptions serviceOptions_;
    std::shared_ptr<PermissionCoordinator> permissions_;
    std::shared_ptr<AgentModel> model_;
    std::unique_ptr<MenuWindow> menu_;
    std::unique_ptr<OnboardingWindow> onboarding_;
    std::unique_ptr<ShutdownPanel> shutdownPanel_;
    std::unique_ptr<ShutdownPanelController> shutdownController_;
    std::map<std::uint64_t, ConfirmRunWindow*> confirmations_;
    QSystemTrayIcon tray_;
    std::optional<bool> trayReady_;
    std::optional<bool> trayBadged_;
    std::optional<TransportState> loggedTransport_;
    std::unique_ptr<DesktopControl> control_;  // last: stops before the model it calls
};

}  // namespace kx
