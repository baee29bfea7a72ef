#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// Runs a program directly with an argument vector (no shell unless the caller runs one), reads
// its standard output and standard error at the same time so that it can never stall on a full
// pipe, and always reaps it. Standard input is /dev/null; no other descriptor of this process
// reaches the child. The child starts in a session of its
// own: it has no controlling terminal (an interactive shell cannot take over ours), and a time
// limit kills its whole process group.
class ChildProcess {
public:
    struct Options {
        // "NAME=value" entries; absent means this process's environment.
        std::optional<std::vector<std::string>> environment = std::nullopt;
        // Killed (SIGKILL) and reaped when it runs longer.
        std::optional<std::chrono::milliseconds> timeLimit = std::nullopt;
        // Standard error goes to /dev/null instead of being collected.
        bool discardStandardError = false;
    };

    struct Result {
        // Exit code; absent when the child ended by a signal (a time-limit kill included).
        std::optional<int> exitCode;
        bool timedOut = false;
        std::string standardOutput;
        std::string standardError;

        bool succeeded() const { return exitCode == 0; }
    };

    // `arguments` excludes the program itself (argv[0] is `program`). Throws std::system_error
    // when the program cannot be started.
    static Result run(const std::string& program, const std::vector<std::string>& arguments, const Options& options);
    static Result run(const std::string& program, const std::vector<std::string>& arguments) {
        return run(program, arguments, Options{});
    }
};

}  // namespace kx
