#include "agent/update/UpdateMenuText.h"

#include <cmath>

namespace kx {

const UpdateRelease* UpdateMenuText::offer() const {
    if (status_.state == UpdateState::paused || !status_.available) return nullptr;
    return &*status_.available;
}

std::string UpdateMenuText::versionLine() const {
    return "Kestrix " + status_.version;
}

std::optional<std::string> UpdateMenuText::headline() const {
    const auto* release = offer();
    if (!release) return std::nullopt;
    return std::string(status_.required ? "Update required" : "Update available") + ": " +
           release->version.description();
}

std::vector<std::string> UpdateMenuText::notes() const {
    const auto* release = offer();
    return release ? release->notes : std::vector<std::string>{};
}

bool UpdateMenuText::showsBadge() const {
    return offer() != nullptr;
}

bool UpdateMenuText::showsUpdateNow() const {
    auto state = status_.state;
    return offer() &&
           (state == UpdateState::available || state == UpdateState::failed || state == UpdateState::checking);
}

std::optional<std::string> UpdateMenuText::detail() const {
    switch (status_.state) {
        case UpdateState::downloading:
            if (!status_.progress) return "Downloading\u2026";
            return "Downloading\u2026 " + std::to_string(std::lround(*status_.progress * 100)) + "%";
        case UpdateState::verifying: return "Checking the update\u2026";
        case UpdateState::installing: return "Installing \u2014 Kestrix will restart";
        case UpdateState::failed: return status_.message;
        default: return std::nullopt;
    }
}

bool UpdateMenuText::detailIsWarning() const {
    return status_.state == UpdateState::failed;
}

bool UpdateMenuText::canCheck() const {
    return !isBusy(status_.state);
}

std::string UpdateMenuText::checkTitle() const {
    if (status_.state == UpdateState::checking) return "Checking\u2026";
    if (status_.state == UpdateState::upToDate) return "Up to date \u2014 check again";
    return "Check for updates";
}

}  // namespace kx
