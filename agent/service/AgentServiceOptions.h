#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/apps/FrontmostSource.h"
#include "agent/apps/InstalledApp.h"
#include "agent/apps/RunningAppsController.h"
#include "agent/apps/Workspace.h"
#include "agent/clipboard/Pasteboard.h"
#include "agent/control/EventPoster.h"
#include "agent/installed/AppLaunching.h"
#include "agent/installed/IconCache.h"
#include "agent/installed/InstalledAppSource.h"
#include "agent/pairing/IdentityStoring.h"
#include "agent/power/ShutdownExecuting.h"
#include "agent/scripting/FileManaging.h"
#include "agent/scripting/WebBrowsing.h"
#include "agent/sessions/SavedCommand.h"
#include "agent/shortcuts/HotkeyController.h"
#include "agent/system/SystemPorts.h"
#include "agent/transport/ServiceAdvertiser.h"
#include "agent/transport/SleepInhibitor.h"
#include "agent/transport/TransportServer.h"
#include "agent/update/UpdateService.h"

namespace kx {

// Everything the agent service is built from: where its state lives, what it reports about the
// machine, and the platform's implementations of the interfaces it needs.
struct AgentServiceOptions {
    std::shared_ptr<IdentityStoring> identityStore;
    std::optional<std::filesystem::path> registryPath;  // absent: paired devices live in memory only
    std::string hostName;
    std::string version = "0.0.0";
    std::string platform;  // e.g. "linux"
    std::string os;        // e.g. "Debian GNU/Linux 12"

    std::shared_ptr<ServiceAdvertiser> advertiser;   // null: never advertised
    std::shared_ptr<SleepInhibitor> sleepInhibitor;  // null: the machine may sleep
    std::size_t workerCount = TransportServer::defaultWorkerCount;
    std::chrono::milliseconds handshakeTimeout = TransportServer::defaultHandshakeTimeout;
    SessionLimits sessionLimits;

    // Method families add the platform interfaces they need below, in registration order.
    // 2 input: where synthetic pointer, key and text input goes; null leaves the input methods out.
    std::shared_ptr<EventPoster> eventPoster;
    // 3 system: volume, media players, brightness, lock and sleep (a null port answers
    // "unsupported"), and where the frontmost application comes from (null: no "system.frontmost").
    SystemPorts systemPorts;
    std::shared_ptr<FrontmostSource> frontmost;
    // 4 running applications: the desktop's applications (null leaves families 4, 6 and 9 out),
    // the identifiers never quit, and icons of installed applications and of bare windows.
    std::shared_ptr<Workspace> workspace;
    std::set<std::string> unquittableApps;
    RunningAppsController::EntryIcon appIcon;  // null: the installed-application family's icons
    RunningAppsController::IconEncoder encodeWindowIcon;
    // 5 installed applications: where their entries come from (null leaves the family out), how
    // their icons are drawn (null: no icons) and how they are started (null: every launch fails).
    std::shared_ptr<InstalledAppSource> installedAppSource;
    IconRender iconRender;
    std::shared_ptr<AppLaunching> appLauncher;
    // 4 and 6: the installed applications that windows are matched to and shortcuts open, and how
    // one is opened (null: the installed-application family's, when there is one).
    std::function<std::vector<InstalledApp>()> installedApps;
    std::function<bool(const InstalledApp&)> launchApp;
    // 9 hotkey actions (with input): this platform's Slack, and whether Xcode exists here.
    HotkeyApp slackApp;
    bool offerXcode = false;
    // 3 clipboard (with the system family): the system clipboard; null leaves the clipboard methods out.
    std::shared_ptr<Pasteboard> pasteboard;
    // 7 terminal sessions: where the saved commands live (absent: memory only) and how tmux is
    // found (null: the permission probe's lookup).
    std::optional<std::filesystem::path> commandsPath;
    std::function<std::optional<std::string>()> tmuxPath;
    // 8 scriptable applications: the file manager and the web browser; without both the family is left out.
    std::shared_ptr<FileManaging> fileManager;
    std::shared_ptr<WebBrowsing> browser;
    // Told of each saved command marked dangerous that a phone asked to run (the phone is refused
    // either way); null where nobody at the computer can confirm it.
    std::function<void(const SavedCommand& command, const std::string& sessionID)> onDangerousCommand;
    // 10 shutdown.
    std::shared_ptr<ShutdownExecuting> shutdownExecutor;  // null: a countdown that runs out does nothing

    // 11 updates: null means the live update service for `version` (configured host and key,
    // preferences in the configuration folder), on `updateBaseURL` when given.
    std::shared_ptr<UpdateService> updates;
    std::optional<std::string> updateBaseURL;
    // How the live service unpacks, checks and installs a release; null: it shows the download page.
    std::shared_ptr<UpdateVerifying> updateVerifier;
    std::shared_ptr<UpdateInstalling> updateInstaller;
};

}  // namespace kx
