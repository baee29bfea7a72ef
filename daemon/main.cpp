// kestrixd: the Kestrix agent without a user interface, and its control commands.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>

#include "agent/support/DataDirectory.h"
#include "agent/support/DescriptorLimit.h"
#include "agent/support/HostName.h"
#include "agent/support/Log.h"
#include "daemon/AgentCommandLine.h"
#include "daemon/AgentDaemon.h"
#include "daemon/ControlClient.h"
#include "daemon/StopSignals.h"
#include "daemon/TerminalQRCode.h"
#include "daemon/UpdateCommand.h"
#include "platform/linux/update/BundleLocation.h"
#include "platform/linux/update/FolderExchange.h"

namespace {

using namespace kx;

constexpr const char* commandsHelp =
    "Control commands for the agent that runs with the same --data-dir:\n"
    "  kestrixd pair [HOST]    issue a new pairing code and show it as a QR code\n"
    "  kestrixd devices        list the paired devices and when they were last seen\n"
    "  kestrixd revoke ID      forget a paired device and close its connections\n"
    "  kestrixd ring           make the connected phones ring\n"
    "  kestrixd disconnect     stop listening and close every connection\n"
    "  kestrixd resume         listen again on the same port\n"
    "  kestrixd shutdown cancel  stop a shutdown or restart that a phone asked for\n"
    "  kestrixd shutdown now     carry it out at once\n"
    "  kestrixd status         listening port, connections, paired devices, shutdown, updates\n"
    "  kestrixd check-update   check the update host for a newer Kestrix now\n"
    "  kestrixd update         install the update that check-update found, showing its progress\n"
    "  kestrixd commands       every command the running agent accepts\n"
    "Add --json to print a command's result as JSON.";

struct CommandLine {
    AgentCommandLine agent;
    bool json = false;
    std::vector<std::string> command;
};

int runControlCommand(const CommandLine& line) {
    const AgentCommandLine& agent = line.agent;
    if (agent.port >= 0 || agent.noAdvertise || agent.pair || !agent.updateURL.empty())
        throw ControlError(
            "--port, --no-advertise, --pair and --update-url apply when starting the agent, not to a command");
    if (line.command.size() == 2 && line.command[0] == "pair")
        if (auto problem = HostName::problem(line.command[1])) throw ControlError("cannot pair: " + *problem);
    if (line.command == std::vector<std::string>{"update"} && !line.json)
        return runUpdateCommand(agent.dataFolder(false), std::cout, ::isatty(STDOUT_FILENO));
    ControlReply reply = ControlClient::send(agent.dataFolder(false), line.command);
    if (!reply.ok) throw ControlError(reply.error);
    if (line.json) {
        std::cout << reply.data.toJSONText() << std::endl;
        return 0;
    }
    std::cout << reply.text;
    if (reply.qrCode) std::cout << TerminalQRCode::render(*reply.qrCode, ::isatty(STDOUT_FILENO));
    std::cout.flush();
    return 0;
}

int runAgent(const CommandLine& line, const std::string& version) {
    // First, before any thread starts: every later thread inherits the blocked stop signals, and a
    // stop during a start-up that hangs still ends the process.
    StopSignals stopSignals;
    ::signal(SIGPIPE, SIG_IGN);
    log::info(raiseDescriptorLimit().description());

    DaemonSettings settings;
    settings.dataFolder = line.agent.dataFolder(true);
    settings.listen = line.agent.listen();
    settings.pairAtStart = line.agent.pair;
    settings.version = version;
    settings.updateBaseURL = line.agent.updateBaseURL();
    AgentDaemon daemon(std::move(settings));
    return daemon.run(stopSignals);
}

}  // namespace

int main(int argc, char** argv) {
    // The update's swap script exchanges the old and new installation through this.
    if (argc == 4 && std::string_view(argv[1]) == exchangeFoldersFlag) return exchangeFolders(argv[2], argv[3]) ? 0 : 1;
    // A portable installation's version file names the version, as the update published it.
    const std::string version = BundleLocation::running().version(KX_VERSION);
    CLI::App app{
        "kestrixd: the Kestrix agent without a user interface. Without a command it runs the agent "
        "in the foreground until SIGINT or SIGTERM; with one it manages the running agent."};
    CommandLine line;
    app.set_version_flag("--version", "kestrixd " + version);
    line.agent.addTo(app, "issue a pairing code at start and print it with a QR code");
    app.add_flag("--json", line.json, "print a control command's result as JSON");
    app.add_option("command", line.command, "control command for the running agent (see below)");
    app.footer(commandsHelp);
    CLI11_PARSE(app, argc, argv);

    try {
        return line.command.empty() ? runAgent(line, version) : runControlCommand(line);
    } catch (const std::exception& error) {
        std::cerr << "kestrixd: " << error.what() << std::endl;
        return 1;
    }
}
