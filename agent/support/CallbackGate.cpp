#include "agent/support/CallbackGate.h"

#include <algorithm>

namespace kx {

bool CallbackGate::enter() {
    std::lock_guard guard(lock_);
    if (!open_) return false;
    running_.push_back(std::this_thread::get_id());
    return true;
}

void CallbackGate::leave() {
    {
        std::lock_guard guard(lock_);
        running_.erase(std::find(running_.begin(), running_.end(), std::this_thread::get_id()));
    }
    idle_.notify_all();
}

void CallbackGate::close() {
    std::unique_lock guard(lock_);
    open_ = false;
    const auto self = std::this_thread::get_id();
    idle_.wait(guard,
               [&] { return std::all_of(running_.begin(), running_.end(), [&](auto id) { return id == self; }); });
}

}  // namespace kx
