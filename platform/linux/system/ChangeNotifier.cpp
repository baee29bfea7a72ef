#include "platform/linux/system/ChangeNotifier.h"

#include <exception>

#include "agent/support/Log.h"

namespace kx {

ChangeNotifier::ChangeNotifier() : shared_(std::make_shared<Shared>()) {
    thread_ = std::thread([shared = shared_] { run(shared); });
}

ChangeNotifier::~ChangeNotifier() {
    {
        std::lock_guard guard(shared_->lock);
        shared_->stopping = true;
        shared_->callback = nullptr;
    }
    shared_->changed.notify_all();
    // The thread holds the shared state itself, so it may outlive this object when it is the one
    // destroying it.
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

void ChangeNotifier::setCallback(std::function<void()> callback) {
    const bool fromCallback = thread_.get_id() == std::this_thread::get_id();
    std::unique_lock calling(shared_->calling, std::defer_lock);
    if (!fromCallback) calling.lock();
    std::lock_guard guard(shared_->lock);
    shared_->callback = std::move(callback);
}

void ChangeNotifier::signal() {
    {
        std::lock_guard guard(shared_->lock);
        shared_->pending = true;
    }
    shared_->changed.notify_one();
}

void ChangeNotifier::run(const std::shared_ptr<Shared>& shared) {
    std::unique_lock lock(shared->lock);
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->pending || shared->stopping; });
        if (shared->stopping) return;
        shared->pending = false;
        lock.unlock();
        {
            std::lock_guard calling(shared->calling);
            std::function<void()> callback;
            {
                std::lock_guard guard(shared->lock);
                callback = shared->callback;
            }
            try {
                if (callback) callback();
            } catch (const std::exception& error) {
                log::error(std::string("a change observer failed: ") + error.what());
            } catch (...) {
                log::error("a change observer failed");
            }
        }
        lock.lock();
    }
}

}  // namespace kx
