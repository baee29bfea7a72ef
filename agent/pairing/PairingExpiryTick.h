#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kx {

class PairingService;

// Ends a pairing code shown to the user once it has expired: every `interval` (on a monotonic
// clock) it checks the service, held weakly, and when no unexpired code remains it clears the
// code and calls `onExpired` once (on its own thread), then stops. Destruction stops it without calling anything.
class PairingExpiryTick {
public:
    static constexpr std::chrono::milliseconds defaultInterval{1000};

    PairingExpiryTick(std::weak_ptr<PairingService> service, std::function<void()> onExpired,
                      std::chrono::milliseconds interval = defaultInterval);
    ~PairingExpiryTick();

    PairingExpiryTick(const PairingExpiryTick&) = delete;
    PairingExpiryTick& operator=(const PairingExpiryTick&) = delete;

private:
    void run(std::stop_token stop);

    const std::weak_ptr<PairingService> service_;
    const std::function<void()> onExpired_;
    const std::chrono::milliseconds interval_;
    std::mutex sleepLock_;
    std::condition_variable_any wake_;
    std::jthread thread_;  // last: starts after every other member exists
};

}  // namespace kx
