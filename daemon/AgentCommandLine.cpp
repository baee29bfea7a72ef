#include "daemon/AgentCommandLine.h"

#include <CLI/CLI.hpp>

#include "agent/support/DataDirectory.h"

namespace kx {

void AgentCommandLine::addTo(CLI::App& app, const std::string& pairHelp) {
    app.add_option("--port", port, "TCP port to listen on (default: any free port)")->check(CLI::Range(0, maxPort));
    app.add_flag("--no-advertise", noAdvertise, "do not advertise the agent over DNS-SD");
    app.add_option("--data-dir", dataDir,
                   "folder of the identity key and paired devices (default: $XDG_DATA_HOME/Kestrix)");
    app.add_option("--update-url", updateURL,
                   "update host, e.g. https://updates.example.org (default: $KX_UPDATE_BASE_URL, else the build's)");
    app.add_flag("--pair", pair, pairHelp);
}

std::filesystem::path AgentCommandLine::dataFolder(bool create) const {
    std::filesystem::path folder;
    if (!dataDir.empty())
        folder = std::filesystem::absolute(dataDir);
    else if (auto standard = defaultDataDirectory())
        folder = *standard;
    else
        throw ControlError("there is no standard data folder (HOME is not set); pass --data-dir");
    if (create) {
        ensureDirectory(folder);
        if (!std::filesystem::is_directory(folder))
            throw ControlError("cannot create the data folder " + folder.string());
    }
    return std::filesystem::weakly_canonical(folder);
}

ListenSettings AgentCommandLine::listen() const {
    ListenSettings settings;
    if (port >= 0) settings.port = static_cast<std::uint16_t>(port);
    settings.advertise = !noAdvertise;
    return settings;
}

std::optional<std::string> AgentCommandLine::updateBaseURL() const {
    if (updateURL.empty()) return std::nullopt;
    return updateURL;
}

}  // namespace kx
