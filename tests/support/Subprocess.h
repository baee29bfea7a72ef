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
#include <tuple>
#include <vector>

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
    explicit Subprocess(const std::vector<std::string>& argv) : Subprocess(argv, Options{}) {}
    Subprocess(const std::vector<std::string>& argv, const Options& options) {
        std::vector<std::string> arguments = argv;
        std::vector<std::string> environment = options.environment.value_or(std::vector<std::string>{});
        // Built before forking: the child may only make async-signal-safe calls.
        std::vector<char*> argp = pointers(arguments), envp = pointers(environment);
        // Carries errno when exec fails; its write end sits above any descriptor the child is given.
        Pipe failure;
        const int failed = ::fcntl(failure.write, F_DUPFD_CLOEXEC, 100);
        ::close(failure.write);
        start(
            [&] {
                if (options.environment)
                    ::execvpe(argp[0], argp.data(), envp.data());
                else
                    ::execvp(argp[0], argp.data());
                int error = errno;
                (void)!::write(failed, &error, sizeof error);
            },
            options);
        ::close(failed);
        int error = 0;
        const bool execFailed = ::read(failure.read, &error, sizeof error) == sizeof error;
        ::close(failure.read);
        if (execFailed) {
            waitFor(std::chrono::seconds(5));
            throw std::system_error(error, std::generic_category(), "cannot start " + argv.at(0));
        }
    }
    // Runs `body` in a forked copy of this process; the copy exits with what it returns.
    Subprocess(const std::function<int()>& body, const Options& options) {
        start([&] { ::_exit(body()); }, options);
    }
    ~Subprocess() {
        stop();
        for (int fd : {input_, output_, error_, notice_})
            if (fd >= 0) ::close(fd);
    }
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    pid_t pid() const { return pid_; }
    int input() const { return input_; }
    int output() const { return output_; }
    int error() const { return error_; }
    int notice() const { return notice_; }
    void closeInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }

    // One line without its newline; absent at end of file or when nothing complete came in time.
    static std::optional<std::string> readLine(int descriptor, std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        std::string line;
        for (char c = 0; c != '\n'; line += c) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd ready{descriptor, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
            if (::read(descriptor, &c, 1) != 1) return std::nullopt;
        }
        line.pop_back();
        return line;
    }

    void signal(int number) const {
        if (pid_ > 0 && !reaped_) ::kill(pid_, number);
    }
    // True once it ended (within the wait); exitCode() or endingSignal() then tells how.
    bool waitFor(std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (int status = 0; pid_ > 0 && !reaped_; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
                if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
            } else if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
        }
        return true;
    }
    // Exit code when it exited, absent when a signal ended it (or it still runs).
    std::optional<int> exitCode() const { return exitCode_; }
    std::optional<int> endingSignal() const { return signal_; }
    // SIGTERM, then SIGKILL after the grace period; returns the exit code as above.
    std::optional<int> stop(std::chrono::milliseconds grace = std::chrono::seconds(5)) {
        signal(SIGTERM);
        if (!waitFor(grace)) {
            signal(SIGKILL);
            waitFor(std::chrono::hours(1));
        }
        return exitCode_;
    }

private:
    struct Pipe {
        int read = -1, write = -1;
        Pipe() {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
            read = ends[0], write = ends[1];
        }
    };

    static std::vector<char*> pointers(std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (auto& s : strings) result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    }

    // In the child: `from` becomes `to` (dup2 clears close-on-exec).
    static void place(int from, int to) {
        if (from == to)
            ::fcntl(from, F_SETFD, 0);
        else
            ::dup2(from, to);
    }

    void start(const std::function<void()>& inChild, const Options& options) {
        std::optional<Pipe> in, out, err, notice;
        if (options.pipeInput) in.emplace();
        if (options.pipeOutput) out.emplace();
        if (options.pipeError) err.emplace();
        if (options.notice) notice.emplace();
        const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        pid_ = ::fork();
        if (pid_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
        if (pid_ == 0) {
            // The parent's ends are close-on-exec, but a forked body never execs: without this it
            // would hold its own input open and never read its end.
            for (const auto& [pipe, childEnd] :
                 {std::pair{&in, false}, std::pair{&out, true}, std::pair{&err, true}, std::pair{&notice, true}})
                if (*pipe) ::close(childEnd ? (*pipe)->read : (*pipe)->write);
            place(in ? in->read : devNull, STDIN_FILENO);
            if (out) place(out->write, STDOUT_FILENO);
            if (err || options.quiet) place(err ? err->write : devNull, STDERR_FILENO);
            if (notice) place(notice->write, *options.notice);
            inChild();
            ::_exit(127);
        }
        ::close(devNull);
        for (auto [pipe, parentEnd, childEnd] : {std::tuple{&in, &input_, false}, std::tuple{&out, &output_, true},
                                                 std::tuple{&err, &error_, true}, std::tuple{&notice, &notice_, true}})
            if (*pipe) {
                ::close(childEnd ? (*pipe)->write : (*pipe)->read);
                *parentEnd = childEnd ? (*pipe)->read : (*pipe)->write;
            }
    }

    pid_t pid_ = -1;
    bool reaped_ = false;
    std::optional<int> exitCode_;
    std::optional<int> signal_;
    int input_ = -1;
    int output_ = -1;
    int error_ = -1;
    int notice_ = -1;
};

}  // namespace kx::testing
