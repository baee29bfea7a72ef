// kestrix: the Kestrix desktop app. The agent runs inside it; a tray icon opens its window.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <filesystem>
#include <iostream>

#include "agent/support/DataDirectory.h"
#include "agent/support/DescriptorLimit.h"
#include "agent/support/InstanceLock.h"
#include "agent/support/Log.h"
#include "app/qt/AppEnvironment.h"
#include "app/qt/Icons.h"

namespace {

using namespace kx;

constexpr int maxPort = 65535;
constexpr const char* footer =
    "The agent runs inside the app: a phone pairs with it through the code in the window, and the\n"
    "control commands of kestrixd (pair, devices, ring, shutdown cancel, status ...) reach it when given\n"
    "the same --data-dir. Only one agent, kestrix or kestrixd, runs per data folder.\n"
    "Needs a graphical session; without one, run kestrixd.";

struct CommandLine {
    int port = -1;
    bool noAdvertise = false;
    bool showSetup = false;
    bool pair = false;
    std::string dataDir;
    std::string updateURL;
};

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

std::filesystem::path dataFolder(const CommandLine& line) {
    std::filesystem::path folder;
    if (!line.dataDir.empty())
        folder = std::filesystem::absolute(line.dataDir);
    else if (auto standard = defaultDataDirectory())
        folder = *standard;
    else
        throw std::runtime_error("there is no standard data folder (HOME is not set); pass --data-dir");
    ensureDirectory(folder);
    if (!std::filesystem::is_directory(folder))
        throw std::runtime_error("cannot create the data folder " + folder.string());
    return std::filesystem::weakly_canonical(folder);
}

// The command that starts this app again with the same choices (open at login, relaunch).
std::vector<std::string> startCommand(const CommandLine& line, const std::filesystem::path& folder) {
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
    CLI::App cli{
        "kestrix: the Kestrix desktop app. It runs the agent that a paired phone controls this computer "
        "through, and shows its state from an icon in the system tray."};
    CommandLine line;
    cli.set_version_flag("--version", std::string("kestrix ") + KX_VERSION);
    cli.add_option("--port", line.port, "TCP port to listen on (default: any free port)")
        ->check(CLI::Range(0, maxPort));
    cli.add_flag("--no-advertise", line.noAdvertise, "do not advertise the agent over DNS-SD");
    cli.add_option("--data-dir", line.dataDir,
                   "folder of the identity key and paired devices (default: $XDG_DATA_HOME/Kestrix)");
    cli.add_option("--update-url", line.updateURL,
                   "update host, e.g. https://updates.example.org (default: $KX_UPDATE_BASE_URL, else the build's)");
    cli.add_flag("--show-setup", line.showSetup, "show the setup window and do not start the agent");
    cli.add_flag("--pair", line.pair, "issue a pairing code at start and show it in the window");
    cli.footer(footer);
    CLI11_PARSE(cli, argc, argv);

    try {
        ::signal(SIGPIPE, SIG_IGN);
        AppSettings settings;
        settings.dataFolder = dataFolder(line);
        // Before anything else touches the folder: a second agent ends here, naming the first.
        InstanceLock lock(settings.dataFolder);
        log::info(raiseDescriptorLimit().description());
        if (line.port >= 0) settings.listen.port = static_cast<std::uint16_t>(line.port);
        settings.listen.advertise = !line.noAdvertise;
        settings.version = KX_VERSION;
        if (!line.updateURL.empty()) settings.updateBaseURL = line.updateURL;
        settings.command = startCommand(line, settings.dataFolder);
        settings.started = started;

        QApplication app(argc, argv);
        QApplication::setApplicationName("kestrix");
        QApplication::setDesktopFileName("kestrix");
        QApplication::setWindowIcon(Icons::application());
        // A menu-bar app: closing its windows never ends it; Quit does.
        QApplication::setQuitOnLastWindowClosed(false);
        quitOnStopSignals();
        log::info("kestrix " + settings.version + " for data folder " + settings.dataFolder.string());
        AppEnvironment environment(std::move(settings));
        environment.launch(line.showSetup, line.pair);
        return QApplication::exec();
    } catch (const std::exception& error) {
        std::cerr << "kestrix: " << error.what() << std::endl;
        return 1;
    }
}
