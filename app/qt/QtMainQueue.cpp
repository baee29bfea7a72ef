#include "app/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QTimer>

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

void QtMainQueue::post(Task task) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

void QtMainQueue::after(std::chrono::milliseconds delay, Task task) {
    QTimer::singleShot(delay, QCoreApplication::instance(), std::move(task));
}

std::unique_ptr<MainQueue::Repeat> QtMainQueue::every(std::chrono::milliseconds interval, Task task) {
    return std::make_unique<TimerRepeat>(interval, std::move(task));
}

}  // namespace kx
