#include "platform/linux/clipboard/X11Clipboard.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <future>
#include <system_error>
#include <type_traits>

#include "agent/clipboard/PasteboardFailure.h"
#include "agent/support/Log.h"
#include "platform/linux/clipboard/X11Selection.h"

namespace kx {

namespace {

int pollTimeout(std::optional<std::chrono::steady_clock::time_point> expiry) {
    if (!expiry) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*expiry - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

}  // namespace

X11Clipboard::X11Clipboard(std::string displayName) : displayName_(std::move(displayName)) {
    wakeDescriptor_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeDescriptor_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

X11Clipboard::~X11Clipboard() {
    thread_.request_stop();
    wake();
    thread_.join();
    ::close(wakeDescriptor_);
}

bool X11Clipboard::isAvailable() {
    try {
        return call<bool>([](X11Selection&) { return true; });
    } catch (const PasteboardFailure&) {
        return false;
    }
}

bool X11Clipboard::isMarkedPrivate() {
    return call<bool>([](X11Selection& selection) { return selection.isMarkedPrivate(); });
}

std::optional<PasteboardText> X11Clipboard::readText() {
    return call<std::optional<PasteboardText>>([](X11Selection& selection) { return selection.readText(); });
}

void X11Clipboard::writeText(const std::string& text) {
    // A copy: a caller that gave up waiting no longer holds the text when the thread gets to it.
    call<void>([text](X11Selection& selection) { selection.writeText(text); });
}

template <class Result>
Result X11Clipboard::call(std::function<Result(X11Selection&)> operation) {
    auto promise = std::make_shared<std::promise<Result>>();
    auto future = promise->get_future();
    post([promise, operation = std::move(operation)](X11Selection* selection) {
        try {
            if (!selection) throw PasteboardFailure(PasteboardFailure::Reason::unreachable, "no X display");
            if constexpr (std::is_void_v<Result>) {
                operation(*selection);
                promise->set_value();
            } else {
                promise->set_value(operation(*selection));
            }
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
    });
    if (future.wait_for(callTimeLimit) != std::future_status::ready)
        throw PasteboardFailure(PasteboardFailure::Reason::timedOut, "the clipboard's thread is busy");
    try {
        return future.get();
    } catch (const std::future_error&) {
        throw PasteboardFailure(PasteboardFailure::Reason::unreachable, "the clipboard has stopped");
    }
}

void X11Clipboard::post(Task task) {
    {
        std::lock_guard guard(lock_);
        if (tasks_.size() >= maxWaitingCalls)
            throw PasteboardFailure(PasteboardFailure::Reason::timedOut, "too many clipboard calls waiting");
        tasks_.push_back(std::move(task));
    }
    wake();
}

void X11Clipboard::wake() {
    const std::uint64_t one = 1;
    (void)!::write(wakeDescriptor_, &one, sizeof one);
}

void X11Clipboard::run(std::stop_token stop) {
    try {
        X11Selection selection(displayName_);
        serve(stop, selection);
    } catch (const std::exception& error) {
        log::error(std::string("clipboard thread stopped: ") + error.what());
    } catch (...) {
        log::error("clipboard thread stopped");
    }
}

void X11Clipboard::serve(std::stop_token stop, X11Selection& selection) {
    while (!stop.stop_requested()) {
        std::deque<Task> batch;
        {
            std::lock_guard guard(lock_);
            batch.swap(tasks_);
        }
        // A queued call that the display cannot serve (it is gone) fails at once.
        for (auto& task : batch) task(selection.open() ? &selection : nullptr);
        selection.dispatchPending();

        pollfd ready[2] = {{wakeDescriptor_, POLLIN, 0}, {selection.descriptor(), POLLIN, 0}};
        ::poll(ready, ready[1].fd >= 0 ? 2 : 1, pollTimeout(selection.nextExpiry()));
        std::uint64_t count = 0;
        (void)!::read(wakeDescriptor_, &count, sizeof count);
    }
}

}  // namespace kx
