#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "daemon/CoreControlCommands.h"

namespace CLI {
class App;
}

namespace kx {

// The options both agents, kestrixd and the desktop app, take when they start.
struct AgentCommandLine {
    static constexpr int maxPort = 65535;

    int port = -1;  // -1: any free port
    bool noAdvertise = false;
    bool pair = false;
    std::string dataDir;
    std::string updateURL;

    // Adds --port, --no-advertise, --data-dir, --update-url and --pair (described by `pairHelp`).
    void addTo(CLI::App& app, const std::string& pairHelp);
    // --data-dir, else the standard data folder; absolute and canonical, created when asked.
    // Throws ControlError when there is none or it cannot be created.
    std::filesystem::path dataFolder(bool create) const;
    ListenSettings listen() const;
    std::optional<std::string> updateBaseURL() const;
};

}  // namespace kx
