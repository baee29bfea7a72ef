#include "daemon/ShutdownAnnouncer.h"

#include "agent/power/CountdownRelay.h"
#include "agent/support/Log.h"
#include "platform/linux/power/DesktopShutdownNotifier.h"

namespace kx {

std::shared_ptr<CountdownRelay> announceShutdownCountdown(const std::shared_ptr<ShutdownCountdown>& countdown) {
    const std::weak_ptr<ShutdownCountdown> weak = countdown;
    DesktopShutdownNotifier::Buttons buttons{[weak] {
                                                 if (auto strong = weak.lock()) strong->cancel();
                                             },
                                             [weak] {
                                                 if (auto strong = weak.lock()) strong->now();
                                             }};
    auto notifier = std::make_shared<DesktopShutdownNotifier>(sessionBusOpener(), std::move(buttons));
    auto logLine = [](const std::optional<ShutdownCountdown::Snapshot>& snapshot) {
        log::info(snapshot ? snapshot->message() : "shutdown countdown ended");
    };
    auto notify = [notifier](const std::optional<ShutdownCountdown::Snapshot>& snapshot) { notifier->show(snapshot); };
    return CountdownRelay::attach(countdown, {logLine, notify});
}

}  // namespace kx
