#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "agent/control/EventPoster.h"
#include "platform/linux/input/WheelSteps.h"
#include "platform/linux/input/X11Connection.h"
#include "platform/linux/input/X11Keyboard.h"

namespace kx {

// Posts input on an X display through the XTEST extension: absolute pointer motion, buttons 1 to
// 3, wheel buttons 4 to 7, keys translated from macOS key codes with their modifier keys pressed
// around them, and text typed character by character whatever the keyboard layout. Screens come
// from RandR. Input may be injected when the display can be opened and has XTEST.
class X11EventPoster : public EventPoster {
public:
    // An empty name means the display named by $DISPLAY.
    explicit X11EventPoster(std::string displayName = {});
    ~X11EventPoster() override;

    bool mayInjectInput() override;
    void postMouse(const MouseEvent& event) override;
    void postScroll(const ScrollEvent& event) override;
    void postKey(const KeyEvent& event) override;
    void postText(const std::u16string& text) override;
    void flush() override;
    std::optional<Point> pointerLocation() override;
    std::vector<Rect> screenFrames() override;
    bool tryAtOnce(const std::function<void()>& work) override;

private:
    // With the connection's lock held: forgets what was known about an older connection's server.
    void syncServer(Display* display);
    void pressModifiers(Display* display, EventFlags flags, bool press);
    void typeKeysym(Display* display, KeySym keysym);
    // Wakes the thread that restores temporary key bindings.
    void bindingsChanged();
    void restoreLoop(std::stop_token stop);

    X11Connection connection_;
    // Guarded by the connection's lock.
    X11Keyboard keyboard_;
    std::uint64_t serverGeneration_ = 0;
    bool hasMonitors_ = false;  // RandR 1.5 or later
    WheelSteps vertical_;
    WheelSteps horizontal_;

    std::mutex restoreLock_;
    std::condition_variable_any restoreWake_;
    bool restoreKicked_ = false;
    std::jthread restorer_;
};

}  // namespace kx
