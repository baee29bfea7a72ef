#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kx {

// The detached shell script that replaces the installation once the agent has quit, and what it is
// given. It runs "/bin/sh -c SCRIPT kestrix-update PID OLD NEW BACKUP DATA PROGRAM REASON ARGS...":
// it waits (up to a minute) for process PID to end; removes an earlier BACKUP; swaps OLD and NEW in
// one step (kestrixd --exchange-folders) and moves the old installation, now at NEW, to BACKUP;
// starts OLD/bin/PROGRAM with ARGS (output to DATA/kestrixd.log). It keeps the new version once it
// answers on its control socket; if it dies or stays silent for 15 seconds, the script stops it,
// swaps BACKUP back in, writes REASON to DATA/update-failure.txt for the next status, and starts the
// previous version. Each step is noted in DATA/update.log.
struct SwapScript {
    static const char* const text;
    static constexpr const char* name = "kestrix-update";
    static constexpr std::chrono::seconds quitWait{60};
    static constexpr std::chrono::seconds startWait{15};
    static constexpr const char* failureFileName = "update-failure.txt";
    static constexpr const char* logFileName = "update.log";
    static constexpr const char* agentLogFileName = "kestrixd.log";

    struct Arguments {
        pid_t pid = 0;
        std::filesystem::path oldInstallation, newInstallation, backup, dataFolder;
        std::string program;  // the executable's name in bin/, e.g. "kestrixd"
        std::string rollbackReason;
        std::vector<std::string> agentArguments;
    };
    // "/bin/sh", "-c", the script, its name, then the arguments in the order above.
    static std::vector<std::string> commandLine(const Arguments& arguments);
};

}  // namespace kx
