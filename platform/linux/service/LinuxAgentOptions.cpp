#include "platform/linux/service/LinuxAgentOptions.h"

#include <signal.h>
#include <unistd.h>

#include "agent/apps/AppIdentity.h"
#include "agent/installed/InstalledAppScanner.h"
#include "agent/sessions/CommandRegistry.h"
#include "platform/linux/apps/LinuxDesktopApps.h"
#include "platform/linux/apps/X11FrontmostSource.h"
#include "platform/linux/apps/X11Workspace.h"
#include "platform/linux/clipboard/X11Clipboard.h"
#include "platform/linux/input/X11EventPoster.h"
#include "platform/linux/installed/GioAppLauncher.h"
#include "platform/linux/installed/GioInstalledAppSource.h"
#include "platform/linux/installed/IconImage.h"
#include "platform/linux/installed/ThemeIconRenderer.h"
#include "platform/linux/pairing/FileIdentityStore.h"
#include "platform/linux/power/ShutdownExecutorSelection.h"
#include "platform/linux/scripting/FreedesktopFileManager.h"
#include "platform/linux/scripting/GioWebBrowser.h"
#include "platform/linux/system/LinuxSystemPorts.h"
#include "platform/linux/transport/DNSSDAdvertiser.h"
#include "platform/linux/transport/LinuxSystemInfo.h"
#include "platform/linux/transport/LogindSleepInhibitor.h"
#include "platform/linux/update/LinuxUpdateParts.h"

namespace kx {

namespace {
constexpr const char* platformName = "linux";
}  // namespace

AgentServiceOptions linuxAgentOptions(const std::filesystem::path& dataFolder, const std::string& version,
                                      const std::optional<std::string>& updateBaseURL) {
    AgentServiceOptions options;
    options.identityStore = std::make_shared<FileIdentityStore>(dataFolder);
    options.registryPath = dataFolder / "devices.json";
    options.commandsPath = dataFolder / CommandRegistry::kFileName;
    options.hostName = LinuxSystemInfo::hostName();
    options.version = version;
    options.platform = platformName;
    options.os = LinuxSystemInfo::osName();
    options.advertiser = std::make_shared<DNSSDAdvertiser>();
    options.sleepInhibitor = std::make_shared<LogindSleepInhibitor>();
    // The display named by DISPLAY; without one the input methods answer "Accessibility not granted".
    options.eventPoster = std::make_shared<X11EventPoster>();
    options.systemPorts = linuxSystemPorts();
    // The CLIPBOARD selection of the same display, read and owned by the agent itself.
    options.pasteboard = std::make_shared<X11Clipboard>();
    // Desktop entries and their icons through GIO and the icon theme; launched through GIO.
    options.installedAppSource = std::make_shared<GioInstalledAppSource>();
    options.iconRender = [renderer = std::make_shared<ThemeIconRenderer>()](const InstalledApp& app) {
        return renderer->render(app);
    };
    options.appLauncher = std::make_shared<GioAppLauncher>();
    options.installedApps = [scanner = InstalledAppScanner(options.installedAppSource)] { return scanner.scan(); };
    options.encodeWindowIcon = [](const IconPixels& icon) {
        return IconImage::fromARGB(static_cast<int>(icon.width), static_cast<int>(icon.height), icon.argb);
    };
    // Running applications on the same display. Windows are matched to installed applications by
    // the list given here; without one each application is known by its window class.
    auto workspace = std::make_shared<X11Workspace>(std::make_shared<AppIdentity>(options.installedApps));
    options.workspace = workspace;
    options.frontmost = std::make_shared<X11FrontmostSource>(workspace);
    options.unquittableApps = LinuxDesktopApps::unquittable();
    options.slackApp = LinuxDesktopApps::slack();
    // The file manager over the session bus, the browser that the desktop chose.
    options.fileManager = std::make_shared<FreedesktopFileManager>();
    options.browser = std::make_shared<GioWebBrowser>();
    options.shutdownExecutor = shutdownExecutorFromEnvironment();
    options.updateBaseURL = updateBaseURL;
    // An update replaces this installation; once the swap script runs, the agent quits as on SIGTERM.
    auto update =
        LinuxUpdateParts::forRunningAgent(dataFolder, version, updateBaseURL, [] { ::kill(::getpid(), SIGTERM); });
    options.updateVerifier = std::move(update.verifier);
    options.updateInstaller = std::move(update.installer);
    return options;
}

}  // namespace kx
