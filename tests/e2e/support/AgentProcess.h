#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "agent/pairing/PairingPayload.h"
#include "agent/support/ChildProcess.h"
#include "protocol/JSONValue.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempFolder.h"

namespace kx::e2e {

// `kestrixd` as a child process with a data folder and runtime folder of its own, listening on a
// free port without advertising unless asked. Its control commands run as further processes,
// exactly as a person would type them.
class AgentProcess {
public:
    struct Options {
        std::vector<std::string> arguments = {};    // added to --data-dir, --port and --no-advertise
        std::vector<std::string> environment = {};  // "NAME=value", added to (or replacing) ours
        bool advertise = false;
        bool waitUntilListening = true;
        // Folders of another agent, to start a second one beside it; fresh ones by default.
        std::optional<std::filesystem::path> dataFolder = std::nullopt;
        std::optional<std::filesystem::path> runtimeFolder = std::nullopt;
        // The port to listen on instead of a free one.
        std::optional<std::uint16_t> port = std::nullopt;
        // Soft and hard limit on open descriptors to start it with (through prlimit); inherited when absent.
        std::optional<std::pair<unsigned long, unsigned long>> descriptorLimit = std::nullopt;
        // The agent to start instead of this build's kestrixd (the desktop app, an installed copy);
        // control commands stay this build's kestrixd's.
        std::optional<std::filesystem::path> program = std::nullopt;
    };
    static constexpr std::chrono::seconds startTimeout{30};

    // Options for an agent whose tmux server lives in `folder` (TMUX_TMPDIR, so no user's tmux is
    // touched) and whose one template, "t_sh", is plain /bin/sh (no login profile slows the test).
    static Options withPlainShell(const std::filesystem::path& folder);

    AgentProcess();
    explicit AgentProcess(Options options);
    ~AgentProcess();  // stops the agent (SIGTERM, then SIGKILL if it lingers)
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    std::uint16_t port() const { return port_; }
    // The agent's process id while it runs, else -1.
    pid_t pid() const { return process_ ? process_->pid() : -1; }
    const std::filesystem::path& dataFolder() const { return dataFolder_; }
    const std::filesystem::path& runtimeFolder() const { return runtimeFolder_; }

    // `kestrixd WORDS... --data-dir FOLDER` with the agent's environment.
    ChildProcess::Result control(const std::vector<std::string>& words) const;
    // The same with --json; throws std::runtime_error with the command's error output on failure.
    JSONValue controlJSON(const std::vector<std::string>& words) const;
    // Whether `kestrixd status` shows this line.
    bool statusShows(const std::string& line) const;
    // A fresh code from `kestrixd pair 127.0.0.1`.
    PairingPayload pairingCode() const;

    // Everything the agent wrote to standard error / output so far.
    std::string errorOutput() const;
    std::string standardOutput() const;
    // Waits until the agent's standard error contains the text.
    bool waitForErrorOutput(const std::string& text, std::chrono::milliseconds wait = std::chrono::seconds(10)) const;

    // Sends SIGTERM and returns the exit code (absent when it had to be killed).
    std::optional<int> stop();
    // Waits for the agent to end on its own, then as stop().
    std::optional<int> waitForExit(std::chrono::milliseconds wait = std::chrono::seconds(10));

private:
    void readOutput(int standardOutput, int standardError);
    std::vector<std::string> environment() const;

    Options options_;
    kx::testing::TempFolder folder_;
    std::filesystem::path dataFolder_;
    std::filesystem::path runtimeFolder_;
    std::unique_ptr<kx::testing::Subprocess> process_;
    std::uint16_t port_ = 0;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::string standardOutput_;
    std::string errorOutput_;
    bool outputEnded_ = false;  // the agent closed its output (it ended)
    std::thread reader_;
};

// Whether `text` (an output of the agent or of its commands) contains `part`.
inline bool has(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace kx::e2e
