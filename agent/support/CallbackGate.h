#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kx {

// Lets callbacks from other threads into an object run only while the gate is open, and lets the
// object close it and wait for the callbacks in flight. Callbacks that go through a gate instead of
// holding a strong reference never become the object's last owner, so it is destroyed on its
// owner's thread, never on one of its ports' threads while the process is ending.
class CallbackGate {
public:
    // Runs `call` unless the gate is closed, with no lock held; returns whether it ran.
    template <class Call>
    bool run(Call&& call) {
        if (!enter()) return false;
        struct Leave {
            CallbackGate& gate;
            ~Leave() { gate.leave(); }
        } leave{*this};
        call();
        return true;
    }

    // Refuses later calls and waits for those running on other threads (one on this thread, which
    // is closing the gate from inside a callback, cannot be waited for).
    void close();

private:
    bool enter();
    void leave();

    std::mutex lock_;
    std::condition_variable idle_;
    bool open_ = true;
    std::vector<std::thread::id> running_;
};

}  // namespace kx
