#include "platform/linux/input/XlibSetup.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace kx {

namespace {

int ignoreProtocolError(Display*, XErrorEvent*) {
    return 0;
}
int returnFromIOError(Display*) {
    return 0;
}

void markLost(Display* display, void* lost) {
    // Xlib takes the display's user lock for the process exit it expects, and keeps it when the
    // exit handler returns: give it back, or every other thread would wait for it forever, even
    // to close the display.
    XUnlockDisplay(display);
    if (lost) *static_cast<bool*>(lost) = true;
}

// Once per process; a lost connection is left to each display's own exit handler.
void prepareXlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(ignoreProtocolError);
        XSetIOErrorHandler(returnFromIOError);
    });
}

// One opening on a thread of its own: whoever asked waits for it within the time limit, and a
// display that arrives after the asker gave up is closed by the opening thread.
struct Opening {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    Display* display = nullptr;
};

std::atomic<int> openingsUnderway{0};

void open(const std::shared_ptr<Opening>& opening, const std::string& name) {
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (display) XSetIOErrorExitHandler(display, markLost, nullptr);
    bool abandoned = false;
    {
        std::lock_guard guard(opening->lock);
        opening->done = true;
        abandoned = opening->abandoned;
        if (!abandoned) opening->display = display;
    }
    opening->finished.notify_one();
    if (abandoned && display) XCloseDisplay(display);
    --openingsUnderway;
}

}  // namespace

// XOpenDisplay waits for the server's answer without a time limit, so it runs on a thread that
// may be left waiting.
Display* openDisplay(const std::string& name, bool* lost) {
    prepareXlib();
    if (++openingsUnderway > maxStalledDisplayOpenings) {
        --openingsUnderway;
        return nullptr;
    }
    auto opening = std::make_shared<Opening>();
    try {
        std::thread(open, opening, name).detach();
    } catch (const std::system_error&) {
        --openingsUnderway;
        return nullptr;
    }
    std::unique_lock guard(opening->lock);
    if (!opening->finished.wait_for(guard, displayOpenTimeLimit, [&] { return opening->done; })) {
        opening->abandoned = true;
        return nullptr;
    }
    if (opening->display) XSetIOErrorExitHandler(opening->display, markLost, lost);
    return opening->display;
}

}  // namespace kx
