#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace kx::testing {

// A program a test starts and talks to while it runs (a server, a helper client, a crashing
// writer), as opposed to ChildProcess, which runs one to its end. Pipes are asked for in the
// options; the destructor sends SIGTERM (SIGKILL if it lingers) and reaps.
class Subprocess {
public:
    struct Options {
        std::optional<std::vector<std::string>> environment = std::nullopt;  // "NAME=value"; absent: ours
        bool pipeInput = false;                                              // else /dev/null
        bool pipeOutput = false;                                             // else inherited
        bool pipeError = false;                                              // else inherited, or /dev/null when quiet
        bool quiet = false;
        // The child gets the write end of a further pipe under this number (a "ready" channel).
        std::optional<int> notice = std::nullopt;
    };

    // argv[0] is looked up on PATH. Throws std::system_error when it cannot be started.
    explicit Subprocess(const std::vector<std::string>& argv);
    Subprocess(const std::vector<std::string>& argv, const Options& options);
    // Runs `body` in a forked copy of this process; the copy exits with what it returns.
    Subprocess(const std::function<int()>& body, const Options& options);
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    pid_t pid() const { return pid_; }
    int input() const { return input_; }
    int output() const { return output_; }
    int error() const { return error_; }
    int notice() const { return notice_; }
    void closeInput();

    // One line without its newline; absent at end of file or when nothing complete came in time.
    static std::optional<std::string> readLine(int descriptor, std::chrono::milliseconds wait);

    void signal(int number) const;
    // True once it ended (within the wait); exitCode() or endingSignal() then tells how.
    bool waitFor(std::chrono::milliseconds wait);
    // Exit code when it exited, absent when a signal ended it (or it still runs).
    std::optional<int> exitCode() const { return exitCode_; }
    std::optional<int> endingSignal() const { return signal_; }
    // SIGTERM, then SIGKILL after the grace period; returns the exit code as above.
    std::optional<int> stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

private:
    void start(const std::function<void()>& inChild, const Options& options);

    pid_t pid_ = -1;
    bool reaped_ = false;
    std::optional<int> exitCode_;
    std::optional<int> signal_;
    int input_ = -1;
    int output_ = -1;
    int error_ = -1;
    int notice_ = -1;
};

// Implementation details below.

namespace subprocess_detail {

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
        read = ends[0];
        write = ends[1];
    }
};

inline std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// In the child: `from` becomes `to` (dup2 clears close-on-exec).
inline void place(int from, int to) {
    if (from == to)
        ::fcntl(from, F_SETFD, 0);
    else
        ::dup2(from, to);
}

}  // namespace subprocess_detail

inline Subprocess::Subprocess(const std::vector<std::string>& argv) : Subprocess(argv, Options{}) {}

inline Subprocess::Subprocess(const std::vector<std::string>& argv, const Options& options) {
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = options.environment.value_or(std::vector<std::string>{});
    // Built before forking: the child may only make async-signal-safe calls.
    std::vector<char*> argp = subprocess_detail::pointers(arguments);
    std::vector<char*> envp = subprocess_detail::pointers(environment);
    // Carries errno when exec fails; its write end sits above any descriptor the child is given.
    subprocess_detail::Pipe failure;
    const int failed = ::fcntl(failure.write, F_DUPFD_CLOEXEC, 100);
    ::close(failure.write);
    failure.write = failed;
    start(
        [&] {
            if (options.environment)
                ::execvpe(argp[0], argp.data(), envp.data());
            else
                ::execvp(argp[0], argp.data());
            int error = errno;
            (void)!::write(failure.write, &error, sizeof error);
            ::_exit(127);
        },
        options);
    ::close(failure.write);
    int error = 0;
    const bool execFailed = ::read(failure.read, &error, sizeof error) == sizeof error;
    ::close(failure.read);
    if (execFailed) {
        waitFor(std::chrono::seconds(5));
        throw std::system_error(error, std::generic_category(), "cannot start " + argv.at(0));
    }
}

inline Subprocess::Subprocess(const std::function<int()>& body, const Options& options) {
    start([&] { ::_exit(body()); }, options);
}

inline void Subprocess::start(const std::function<void()>& inChild, const Options& options) {
    std::optional<subprocess_detail::Pipe> in, out, err, notice;
    if (options.pipeInput) in.emplace();
    if (options.pipeOutput) out.emplace();
    if (options.pipeError) err.emplace();
    if (options.notice) notice.emplace();
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid_ == 0) {
        subprocess_detail::place(in ? in->read : devNull, STDIN_FILENO);
        if (out) subprocess_detail::place(out->write, STDOUT_FILENO);
        if (err)
            subprocess_detail::place(err->write, STDERR_FILENO);
        else if (options.quiet)
            subprocess_detail::place(devNull, STDERR_FILENO);
        if (notice) subprocess_detail::place(notice->write, *options.notice);
        inChild();
        ::_exit(127);
    }
    ::close(devNull);
    if (in) ::close(in->read), input_ = in->write;
    if (out) ::close(out->write), output_ = out->read;
    if (err) ::close(err->write), error_ = err->read;
    if (notice) ::close(notice->write), notice_ = notice->read;
}

inline Subprocess::~Subprocess() {
    stop();
    for (int fd : {input_, output_, error_, notice_})
        if (fd >= 0) ::close(fd);
}

inline void Subprocess::closeInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
}

inline std::optional<std::string> Subprocess::readLine(int descriptor, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::string line;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{descriptor, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        char c = 0;
        if (::read(descriptor, &c, 1) != 1) return std::nullopt;
        if (c == '\n') return line;
        line += c;
    }
}

inline void Subprocess::signal(int number) const {
    if (pid_ > 0 && !reaped_) ::kill(pid_, number);
}

inline bool Subprocess::waitFor(std::chrono::milliseconds wait) {
    if (pid_ <= 0 || reaped_) return true;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
            if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

inline std::optional<int> Subprocess::stop(std::chrono::milliseconds grace) {
    signal(SIGTERM);
    if (!waitFor(grace)) {
        signal(SIGKILL);
        waitFor(std::chrono::hours(1));
    }
    return exitCode_;
}

}  // namespace kx::testing
