#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace kx::test {

// A private X server for one test, started by display number (or on a free one) and stopped by pid.
class PrivateXServer {
public:
    static constexpr int kStartTimeoutMs = 10000;

    explicit PrivateXServer(std::optional<int> number = std::nullopt) {
        int fds[2];
        if (pipe(fds) != 0) return;
        const std::string fd = std::to_string(fds[1]);
        std::vector<std::string> args = {"Xvfb", "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset"};
        if (number) args.insert(args.begin() + 1, ":" + std::to_string(*number));
        args.insert(args.end(), {"-displayfd", fd});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        // Xvfb writes the number and the newline separately, and ends if the pipe closes between.
        std::string written;
        char c = 0;
        pollfd ready{fds[0], POLLIN, 0};
        while (pid_ > 0 && poll(&ready, 1, kStartTimeoutMs) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') written += c;
        if (c == '\n') number_ = std::atoi(written.c_str());
        close(fds[0]);
    }
    ~PrivateXServer() { stop(); }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    std::optional<int> number() const { return number_; }
    std::string name() const { return ":" + std::to_string(number_.value_or(-1)); }

private:
    pid_t pid_ = -1;
    std::optional<int> number_;
};

}  // namespace kx::test
