#include "agent/pairing/PairingExpiryTick.h"

#include "agent/pairing/PairingService.h"

namespace kx {

PairingExpiryTick::PairingExpiryTick(std::weak_ptr<PairingService> service, std::function<void()> onExpired,
                                     std::chrono::milliseconds interval)
    : service_(std::move(service)),
      onExpired_(std::move(onExpired)),
      interval_(interval),
      thread_([this](std::stop_token stop) { run(stop); }) {}

PairingExpiryTick::~PairingExpiryTick() {
    thread_.request_stop();
    // onExpired may drop the last owner of the tick: the loop ends right after it, so let it go.
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else if (thread_.joinable())
        thread_.join();
}

void PairingExpiryTick::run(std::stop_token stop) {
    while (!stop.stop_requested()) {
        {
            std::unique_lock sleeping(sleepLock_);
            // wait_for measures on steady_clock; returns early only when stop is requested.
            wake_.wait_for(sleeping, stop, interval_, [] { return false; });
        }
        if (stop.stop_requested()) return;
        auto service = service_.lock();
        if (!service) return;
        if (!service->expireIfDue()) continue;
        service.reset();
        if (onExpired_) onExpired_();
        return;
    }
}

}  // namespace kx
