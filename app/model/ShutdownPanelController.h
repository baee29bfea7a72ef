#pragma once

#include <functional>
#include <optional>
#include <string>

#include "agent/power/ShutdownCountdown.h"

namespace kx {

// The window that announces a pending shutdown or restart.
class ShutdownPanelView {
public:
    virtual ~ShutdownPanelView() = default;
    virtual bool isVisible() const = 0;
    // Shows the texts; `present`: centre the panel and bring it in front of every other window.
    virtual void show(const std::string& message, const std::string& nowTitle, bool present) = 0;
    // Closes the panel; the view reports the close through closedByUser like any other.
    virtual void close() = 0;
};

// Opens, updates and closes the shutdown panel with the countdown. Cancel, Escape and the close
// box cancel the countdown; the panel closing because the countdown ended does not.
class ShutdownPanelController {
public:
    ShutdownPanelController(ShutdownPanelView& view, std::function<void()> onCancel, std::function<void()> onNow)
        : view_(view), onCancel_(std::move(onCancel)), onNow_(std::move(onNow)) {}

    void update(const std::optional<ShutdownCountdown::Snapshot>& snapshot);
    // The close box, or the window manager closing the panel.
    void closedByUser();
    void cancelPressed() { onCancel_(); }
    void escapePressed() { onCancel_(); }
    void nowPressed() { onNow_(); }

private:
    ShutdownPanelView& view_;
    std::function<void()> onCancel_;
    std::function<void()> onNow_;
    bool dismissing_ = false;
};

}  // namespace kx
