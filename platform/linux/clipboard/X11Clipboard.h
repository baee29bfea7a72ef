#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "agent/clipboard/Pasteboard.h"

namespace kx {

class X11Selection;

// The X CLIPBOARD selection as the agent's pasteboard. A thread of its own holds the connection:
// it carries out each call in turn and, in between, hands what the agent set to the applications
// that paste it, until another application takes the selection. No child process is involved.
class X11Clipboard final : public Pasteboard {
public:
    // The longest a caller waits, queueing behind other calls included.
    static constexpr std::chrono::seconds callTimeLimit{25};
    // Calls waiting for the thread; more fail at once.
    static constexpr std::size_t maxWaitingCalls = 32;

    // An empty name means the display named by $DISPLAY.
    explicit X11Clipboard(std::string displayName = {});
    ~X11Clipboard() override;
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    bool isAvailable() override;
    bool isMarkedPrivate() override;
    std::optional<PasteboardText> readText() override;
    void writeText(const std::string& text) override;

private:
    using Task = std::function<void(X11Selection*)>;  // null when no display can be reached

    template <class Result>
    Result call(std::function<Result(X11Selection&)> operation);
    void post(Task task);
    void run(std::stop_token stop);
    void serve(std::stop_token stop, X11Selection& selection);
    void wake();

    std::string displayName_;
    int wakeDescriptor_ = -1;
    std::mutex lock_;
    std::deque<Task> tasks_;
    std::jthread thread_;
};

}  // namespace kx
