#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace kx {

// The PATH the user's login shell sets up, handed to tmux so that sessions find the user's
// programs even when the agent itself was started with a bare PATH.
class UserPath {
public:
    static constexpr const char* kFallback = "/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";
    static constexpr const char* kDefaultShell = "/bin/zsh";
    static constexpr std::chrono::milliseconds kTimeLimit{5000};

    // Discovered once per process with $SHELL (else the default shell); later callers wait for
    // and reuse the first result.
    static const std::string& value();

    // One discovery: runs `shell -ilc 'printf %s "$PATH"'` for at most `limit`. The fallback is
    // used when the shell is not an executable file, cannot start, runs too long, or prints
    // anything but one non-empty line of UTF-8.
    static std::string discover(const std::string& shell, std::chrono::milliseconds limit);
};

}  // namespace kx
