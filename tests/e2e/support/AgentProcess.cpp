#include "tests/e2e/support/AgentProcess.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <regex>
#include <stdexcept>

#include "agent/sessions/CommandRegistry.h"

extern char** environ;

namespace kx::e2e {

namespace {
// Sets a resource limit and runs the command in its place (util-linux).
constexpr const char* prlimitPath = "/usr/bin/prlimit";
// The kestrixd of this build.
constexpr const char* executable = KX_E2E_DAEMON;
}  // namespace

AgentProcess::Options AgentProcess::withPlainShell(const std::filesystem::path& folder) {
    Options options{.environment = {"TMUX_TMPDIR=" + folder.string()}, .dataFolder = folder / "data"};
    std::filesystem::create_directories(*options.dataFolder);
    std::ofstream(*options.dataFolder / CommandRegistry::kFileName) << R"({"commands": [], "templates": [
        {"id": "t_sh", "name": "Plain shell", "icon": "terminal", "cwd": "/", "program": "/bin/sh"}]})";
    return options;
}

AgentProcess::AgentProcess() : AgentProcess(Options{}) {}

AgentProcess::AgentProcess(Options options)
    : options_(std::move(options)),
      dataFolder_(options_.dataFolder.value_or(folder_.path() / "data")),
      runtimeFolder_(options_.runtimeFolder.value_or(folder_.path() / "run")) {
    std::filesystem::create_directories(dataFolder_);
    std::filesystem::create_directories(runtimeFolder_);
    ::chmod(runtimeFolder_.c_str(), S_IRWXU);

    std::vector<std::string> arguments;
    if (auto limit = options_.descriptorLimit)
        arguments = {prlimitPath, "--nofile=" + std::to_string(limit->first) + ":" + std::to_string(limit->second),
                     "--"};
    arguments.insert(arguments.end(), {options_.executable.value_or(executable).string(), "--data-dir",
                                       dataFolder_.string(), "--port", std::to_string(options_.port.value_or(0))});
    if (!options_.advertise) arguments.push_back("--no-advertise");
    arguments.insert(arguments.end(), options_.arguments.begin(), options_.arguments.end());
    process_ = std::make_unique<kx::testing::Subprocess>(
        arguments,
        kx::testing::Subprocess::Options{.environment = environment(), .pipeOutput = true, .pipeError = true});
    reader_ = std::thread([this] { readOutput(process_->output(), process_->error()); });

    if (!options_.waitUntilListening) return;
    std::regex listening("listening on port ([0-9]+)");
    std::unique_lock guard(lock_);
    std::smatch match;
    bool found = changed_.wait_for(guard, startTimeout,
                                   [&] { return std::regex_search(errorOutput_, match, listening) || outputEnded_; });
    if (!found || match.empty()) {
        std::string output = errorOutput_;
        guard.unlock();
        stop();
        throw std::runtime_error("kestrixd did not start listening:\n" + output);
    }
    port_ = static_cast<std::uint16_t>(std::stoi(match[1].str()));
}

AgentProcess::~AgentProcess() {
    stop();
}

std::vector<std::string> AgentProcess::environment() const {
    // A variable given in the options replaces the inherited one of the same name.
    auto overridden = [&](std::string_view entry) {
        const auto name = entry.substr(0, entry.find('=') + 1);
        if (name == "XDG_RUNTIME_DIR=") return true;
        for (const auto& given : options_.environment)
            if (std::string_view(given).substr(0, given.find('=') + 1) == name) return true;
        return false;
    };
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry)
        if (!overridden(*entry)) variables.emplace_back(*entry);
    variables.push_back("XDG_RUNTIME_DIR=" + runtimeFolder_.string());
    variables.insert(variables.end(), options_.environment.begin(), options_.environment.end());
    return variables;
}

void AgentProcess::readOutput(int standardOutput, int standardError) {
    pollfd entries[2] = {{standardOutput, POLLIN, 0}, {standardError, POLLIN, 0}};
    while ((entries[0].fd >= 0 || entries[1].fd >= 0) && (::poll(entries, 2, -1) >= 0 || errno == EINTR)) {
        for (int i = 0; i < 2; ++i) {
            char chunk[4096];
            ssize_t n = entries[i].revents ? ::read(entries[i].fd, chunk, sizeof chunk) : -1;
            if (n == 0 || (n < 0 && entries[i].revents && errno != EINTR)) entries[i].fd = -1;
            if (n <= 0) continue;
            std::lock_guard guard(lock_);
            (i == 0 ? standardOutput_ : errorOutput_).append(chunk, static_cast<std::size_t>(n));
            changed_.notify_all();
        }
    }
    std::lock_guard guard(lock_);
    outputEnded_ = true;
    changed_.notify_all();
}

std::optional<int> AgentProcess::waitForExit(std::chrono::milliseconds wait) {
    if (process_) process_->waitFor(wait);
    return stop();
}

std::optional<int> AgentProcess::stop() {
    if (!process_) return std::nullopt;
    auto exitCode = process_->stop(std::chrono::seconds(15));
    if (reader_.joinable()) reader_.join();
    return exitCode;
}

ChildProcess::Result AgentProcess::control(const std::vector<std::string>& words) const {
    std::vector<std::string> arguments = words;
    arguments.insert(arguments.end(), {"--data-dir", dataFolder_.string()});
    return ChildProcess::run(executable, arguments,
                             {.environment = environment(), .timeLimit = std::chrono::seconds(60)});
}

JSONValue AgentProcess::controlJSON(const std::vector<std::string>& words) const {
    std::vector<std::string> withJSON = words;
    withJSON.push_back("--json");
    auto result = control(withJSON);
    if (!result.succeeded()) throw std::runtime_error("kestrixd command failed: " + result.standardError);
    return JSONValue::fromJSONText(result.standardOutput);
}

bool AgentProcess::statusShows(const std::string& line) const {
    const JSONValue status = controlJSON({"status"});
    for (const auto& shown : status.asObject().at("lines").asArray())
        if (shown.asString() == line) return true;
    return false;
}

PairingPayload AgentProcess::pairingCode() const {
    return PairingPayload::decode(controlJSON({"pair", "127.0.0.1"}).toJSONText());
}

std::string AgentProcess::errorOutput() const {
    std::lock_guard guard(lock_);
    return errorOutput_;
}

std::string AgentProcess::standardOutput() const {
    std::lock_guard guard(lock_);
    return standardOutput_;
}

bool AgentProcess::waitForErrorOutput(const std::string& text, std::chrono::milliseconds wait) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, wait, [&] { return errorOutput_.find(text) != std::string::npos; });
}

}  // namespace kx::e2e
