#include "agent/power/CountdownRelay.h"

namespace kx {

std::shared_ptr<CountdownRelay> CountdownRelay::attach(const std::shared_ptr<ShutdownCountdown>& countdown,
                                                       std::vector<Observer> observers) {
    std::shared_ptr<CountdownRelay> relay(new CountdownRelay(countdown, std::move(observers)));
    countdown->setOnChange([weakRelay = std::weak_ptr(relay)](const auto&) {
        if (auto strong = weakRelay.lock()) strong->changed();
    });
    return relay;
}

CountdownRelay::CountdownRelay(std::weak_ptr<ShutdownCountdown> countdown, std::vector<Observer> observers)
    : countdown_(std::move(countdown)), observers_(std::move(observers)) {}

void CountdownRelay::changed() {
    std::lock_guard guard(lock_);
    const auto countdown = countdown_.lock();
    const auto latest = countdown ? countdown->current() : std::nullopt;
    if (latest == delivered_) return;
    delivered_ = latest;
    for (const auto& observer : observers_) observer(latest);
}

}  // namespace kx
