#include "app/qt/QtMainQueue.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <deque>
#include <mutex>
#include <system_error>
#include <utility>

namespace kx {

namespace {
class TimerRepeat : public MainQueue::Repeat {
public:
    TimerRepeat(std::chrono::milliseconds interval, MainQueue::Task task) {
        timer_.setInterval(interval);
        QObject::connect(&timer_, &QTimer::timeout, [task = std::move(task)] { task(); });
        timer_.start();
    }
    void cancel() override { timer_.stop(); }

private:
    QTimer timer_;
};
}  // namespace

struct QtMainQueue::Inbox {
    std::mutex lock;
    std::deque<Task> tasks;
    // A byte is on its way to the pipe: later posts need not write another.
    bool wakePending = false;
    int pipe[2] = {-1, -1};

    ~Inbox() {
        for (int end : pipe)
            if (end >= 0) ::close(end);
    }

    // On the main thread. The byte is read before the list is taken, so a post racing with this
    // either lands in this batch or writes a byte of its own.
    void drain() {
        char bytes[16];
        while (::read(pipe[0], bytes, sizeof bytes) > 0) {
        }
        std::deque<Task> batch;
        {
            std::lock_guard guard(lock);
            batch.swap(tasks);
            wakePending = false;
        }
        for (auto& task : batch) task();
    }
};

QtMainQueue::QtMainQueue() : inbox_(std::make_shared<Inbox>()) {
    if (::pipe2(inbox_->pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "main queue pipe");
    // The application owns the notifier, so it is deleted on the main thread whichever thread drops
    // this queue; the inbox, and the pipe it watches, live as long as the notifier does.
    auto* notifier = new QSocketNotifier(inbox_->pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [inbox = inbox_] { inbox->drain(); });
}

void QtMainQueue::post(Task task) {
    bool wake = false;
    {
        std::lock_guard guard(inbox_->lock);
        inbox_->tasks.push_back(std::move(task));
        wake = !std::exchange(inbox_->wakePending, true);
    }
    const char byte = 1;
    if (wake) (void)!::write(inbox_->pipe[1], &byte, 1);
}

void QtMainQueue::after(std::chrono::milliseconds delay, Task task) {
    QTimer::singleShot(delay, QCoreApplication::instance(), std::move(task));
}

std::unique_ptr<MainQueue::Repeat> QtMainQueue::every(std::chrono::milliseconds interval, Task task) {
    return std::make_unique<TimerRepeat>(interval, std::move(task));
}

}  // namespace kx
