#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kx {

// Hands change signals from a thread that must not block (a library's event loop) to a callback on
// a thread of its own. Signals that arrive while the callback runs are merged into one more call.
class ChangeNotifier {
public:
    ChangeNotifier();
    // Stops the thread; from inside the callback it lets the thread end on its own.
    ~ChangeNotifier();
    ChangeNotifier(const ChangeNotifier&) = delete;
    ChangeNotifier& operator=(const ChangeNotifier&) = delete;

    // Replaces the callback; null stops calling. After it returns, a replaced callback is not
    // called again (unless it is the caller itself).
    void setCallback(std::function<void()> callback);
    // Never blocks for long: it only marks a change.
    void signal();

private:
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        bool pending = false;
        bool stopping = false;
        std::function<void()> callback;
        std::mutex calling;  // held while the callback runs
    };
    static void run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace kx
