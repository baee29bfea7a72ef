// kestrix: the Kestrix desktop app. The agent runs inside it; a tray icon opens its window.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "agent/support/DescriptorLimit.h"
#include "agent/support/InstanceLock.h"
#include "agent/support/Log.h"
#include "app/qt/AppEnvironment.h"
#include "app/qt/Icons.h"
#include "daemon/AgentCommandLine.h"
#include "platform/linux/update/BundleLocation.h"

namespace {

using namespace kx;

constexpr const char* footer =
    "The agent runs inside the app: a phone pairs with it through the code in the window, and the\n"
    "control commands of kestrixd (pair, devices, ring, shutdown cancel, status ...) reach it when given\n"
    "the same --data-dir. Only one agent, kestrix or kestrixd, runs per data folder.\n"
    "Needs a graphical session; without one, run kestrixd.\n";

// SIGINT and SIGTERM end the event loop, so that the agent stops cleanly.
int stopPipe[2] = {-1, -1};
void onStopSignal(int) {
    char byte = 1;
    [[maybe_unused]] auto ignored = ::write(stopPipe[1], &byte, 1);
}

void quitOnStopSignals() {
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] { QApplication::quit(); });
}

bool hasDisplay() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(variable); value && *value) return true;
    return false;
}

// The command that starts this app again with the same choices (open at login, relaunch).
std::vector<std::string> startCommand(const AgentCommandLine& line, const std::filesystem::path& folder) {
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    std::vector<std::string> command{error ? std::string("kestrix") : self.string()};
    if (!line.dataDir.empty()) command.insert(command.end(), {"--data-dir", folder.string()});
    if (line.port >= 0) command.insert(command.end(), {"--port", std::to_string(line.port)});
    if (line.noAdvertise) command.push_back("--no-advertise");
    if (!line.updateURL.empty()) command.insert(command.end(), {"--update-url", line.updateURL});
    return command;
}

}  // namespace

int main(int argc, char** argv) {
    auto started = std::chrono::steady_clock::now();
    // A portable installation's version file names the version, as the update published it.
    const std::string version = BundleLocation::running().version(KX_VERSION);
    CLI::App cli{
        "kestrix: the Kestrix desktop app. It runs the agent that a paired phone controls this computer "
        "through, and shows its state from an icon in the system tray."};
    AgentCommandLine line;
    bool showSetup = false;
    cli.set_version_flag("--version", "kestrix " + version);
    line.addTo(cli, "issue a pairing code at start and show it in the window");
    cli.add_flag("--show-setup", showSetup, "show the setup window and do not start the agent");
    cli.footer(footer);
    CLI11_PARSE(cli, argc, argv);

    try {
        ::signal(SIGPIPE, SIG_IGN);
        // Qt would abort without a display; say what to run instead, before the data folder is made.
        if (!hasDisplay())
            throw std::runtime_error("no display to show a window on (DISPLAY is not set); run kestrixd");
        AppSettings settings;
        settings.dataFolder = line.dataFolder(true);
        // Before anything else touches the folder: a second agent ends here, naming the first.
        InstanceLock lock(settings.dataFolder);
        log::info(raiseDescriptorLimit().description());
        settings.listen = line.listen();
        settings.version = version;
        settings.updateBaseURL = line.updateBaseURL();
        settings.command = startCommand(line, settings.dataFolder);
        settings.started = started;

        QApplication app(argc, argv);
        QApplication::setApplicationName("kestrix");
        QApplication::setDesktopFileName("kestrix");
        QApplication::setWindowIcon(Icons::application());
        // A tray app: closing its windows never ends it; Quit does.
        QApplication::setQuitOnLastWindowClosed(false);
        quitOnStopSignals();
        log::info("kestrix " + settings.version + " for data folder " + settings.dataFolder.string());
        AppEnvironment environment(std::move(settings));
        environment.launch(showSetup, line.pair);
        return QApplication::exec();
    } catch (const std::exception& error) {
        std::cerr << "kestrix: " << error.what() << std::endl;
        return 1;
    }
}
