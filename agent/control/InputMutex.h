#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "protocol/WireError.h"

namespace kx {

// Lets a multi-step operation (bring an application to the front, then send keys to it) run
// without pointer or text input from other requests in between. Those requests look at isHeld()
// and drop their input instead of waiting; they never take the lock.
class InputMutex {
public:
    // Durations in seconds.
    struct Timing {
        double pollInterval = 0.05;      // between checks that the target is frontmost
        double activationTimeout = 2.0;  // how long run() waits for the target
        double settle = 0.03;            // after the target came to the front, and after the body
    };

    // Time as run() sees it; tests replace both functions.
    struct Clock {
        std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };
        std::function<void(std::chrono::duration<double>)> sleep = [](std::chrono::duration<double> d) {
            std::this_thread::sleep_for(d);
        };
    };

    struct Failure : std::exception {
        enum class Case { targetNotReady, targetNotFound };
        Case which;
        std::string bundleID;

        Failure(Case c, std::string id) : which(c), bundleID(std::move(id)) {}
        const char* what() const noexcept override;
        WireError wireError() const;
        friend bool operator==(const Failure& a, const Failure& b) {
            return a.which == b.which && a.bundleID == b.bundleID;
        }
    };

    using Frontmost = std::function<std::optional<std::string>()>;
    using Activate = std::function<bool(const std::string& bundleID)>;

    InputMutex() = default;
    InputMutex(Timing timing, Clock clock) : timing_(timing), clock_(std::move(clock)) {}

    bool isHeld() const { return isHeld_.load(); }
    const Timing& timing() const { return timing_; }

    // Runs body with the mutex held; returns its result or rethrows its error.
    template <class Body>
    auto hold(Body&& body) -> decltype(body()) {
        Scope scope(*this);
        return body();
    }

    // Brings bundleID to the front, runs body, and with restoreFocus gives the focus back to the
    // application that was frontmost before. Throws Failure or the body's error.
    template <class Body>
    auto run(const std::string& bundleID, const Frontmost& frontmost, const Activate& activate, bool restoreFocus,
             Body&& body) -> decltype(body()) {
        Scope scope(*this);
        const auto previous = bringToFront(bundleID, frontmost, activate);
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            afterBody(bundleID, previous, activate, restoreFocus);
        } else {
            auto result = body();
            afterBody(bundleID, previous, activate, restoreFocus);
            return result;
        }
    }

private:
    // Holds lock_ and the flag for one operation; clears the flag before releasing the lock.
    class Scope {
    public:
        explicit Scope(InputMutex& m) : mutex_(m), guard_(m.lock_) { mutex_.isHeld_.store(true); }
        ~Scope() { mutex_.isHeld_.store(false); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        InputMutex& mutex_;
        std::lock_guard<std::mutex> guard_;  // released after the destructor body cleared the flag
    };

    // Returns the application that was frontmost before; throws Failure.
    std::optional<std::string> bringToFront(const std::string& bundleID, const Frontmost& frontmost,
                                            const Activate& activate);
    void afterBody(const std::string& bundleID, const std::optional<std::string>& previous, const Activate& activate,
                   bool restoreFocus);
    void sleep(double seconds) const { clock_.sleep(std::chrono::duration<double>(seconds)); }

    Timing timing_;
    Clock clock_;
    std::mutex lock_;
    std::atomic<bool> isHeld_{false};
};

}  // namespace kx
