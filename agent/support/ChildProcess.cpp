#include "agent/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <thread>

extern char** environ;

namespace kx {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kPollForever = -1;
constexpr auto kExitPollInterval = std::chrono::milliseconds(5);

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// A pipe whose ends close themselves; both ends are close-on-exec so that no other child started
// meanwhile by another thread inherits them.
struct Pipe {
    int read = -1;
    int write = -1;

    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) fail(errno, "pipe");
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    void closeRead() { closeFD(read); }
    void closeWrite() { closeFD(write); }

    static void closeFD(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// posix_spawn's file actions and attributes, released on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;

    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

void prepare(SpawnSetup& setup, const Pipe& out, const Pipe* err) {
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, out.write, STDOUT_FILENO);
    if (err)
        posix_spawn_file_actions_adddup2(&setup.actions, err->write, STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing else of the agent's reaches the child, close-on-exec or not: a program that outlives
    // the agent (the tmux server) would otherwise keep its listening socket and connections open.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

    // The agent may ignore SIGPIPE or block signals on its threads; a child starts clean.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    result.reserve(strings.size() + 1);
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Milliseconds left before the deadline, for poll.
int pollTimeout(const std::optional<std::chrono::steady_clock::time_point>& deadline) {
    if (!deadline) return kPollForever;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads both pipes until each reaches its end or the deadline passes; false on expiry.
bool drain(Pipe& out, Pipe* err, ChildProcess::Result& result,
           const std::optional<std::chrono::steady_clock::time_point>& deadline) {
    std::array<char, kReadChunk> buffer;
    while (out.read >= 0 || (err && err->read >= 0)) {
        std::array<pollfd, 2> fds{pollfd{out.read, POLLIN, 0}, pollfd{err ? err->read : -1, POLLIN, 0}};
        int ready = ::poll(fds.data(), fds.size(), pollTimeout(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            fail(errno, "poll");
        }
        if (ready == 0) return false;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            Pipe& pipe = i == 0 ? out : *err;
            std::string& sink = i == 0 ? result.standardOutput : result.standardError;
            ssize_t n = ::read(pipe.read, buffer.data(), buffer.size());
            if (n > 0)
                sink.append(buffer.data(), static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                pipe.closeRead();
        }
    }
    return true;
}

void record(int status, ChildProcess::Result& result) {
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
}

void reap(pid_t pid, ChildProcess::Result& result) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return;
    }
    record(status, result);
}

// A child may close its pipes and go on running: wait for its exit, but only until the deadline.
bool reapBefore(pid_t pid, std::chrono::steady_clock::time_point deadline, ChildProcess::Result& result) {
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            record(status, result);
            return true;
        }
        if (done < 0 && errno != EINTR) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kExitPollInterval);
    }
}

}  // namespace

ChildProcess::Result ChildProcess::run(const std::string& program, const std::vector<std::string>& arguments,
                                       const Options& options) {
    Pipe out;
    std::optional<Pipe> err;
    if (!options.discardStandardError) err.emplace();

    SpawnSetup setup;
    prepare(setup, out, err ? &*err : nullptr);

    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    auto argv = pointers(argvStrings);
    std::vector<std::string> envStrings = options.environment.value_or(std::vector<std::string>{});
    auto envp = pointers(envStrings);

    const auto deadline =
        options.timeLimit ? std::optional(std::chrono::steady_clock::now() + *options.timeLimit) : std::nullopt;
    pid_t pid = 0;
    int error = ::posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(),
                              options.environment ? envp.data() : environ);
    if (error != 0) fail(error, "start " + program);
    out.closeWrite();
    if (err) err->closeWrite();

    Result result;
    bool finished = false;
    try {
        finished = drain(out, err ? &*err : nullptr, result, deadline);
    } catch (...) {
        ::kill(-pid, SIGKILL);
        reap(pid, result);
        throw;
    }
    if (finished && deadline)
        finished = reapBefore(pid, *deadline, result);
    else if (finished)
        reap(pid, result);
    if (!finished) {
        // The child leads its own process group (it started a session): end everything it began.
        ::kill(-pid, SIGKILL);
        result.timedOut = true;
        reap(pid, result);
    }
    return result;
}

}  // namespace kx
