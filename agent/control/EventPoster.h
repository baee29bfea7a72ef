#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/control/EventFlags.h"
#include "agent/control/ScreenGeometry.h"

namespace kx {

enum class MouseEventType { moved, leftDown, leftUp, leftDragged, rightDown, rightUp, otherDown, otherUp };
enum class MouseButton { left, right, center };

struct MouseEvent {
    MouseEventType type = MouseEventType::moved;
    Point location;
    MouseButton button = MouseButton::left;
    // 1 for a single click, 2 and 3 for the later presses of a double and triple click.
    std::optional<std::int64_t> clickState;
    friend bool operator==(const MouseEvent&, const MouseEvent&) = default;
};

// Pixel deltas; positive wheel1 scrolls up, positive wheel2 scrolls left.
struct ScrollEvent {
    std::int32_t wheel1 = 0;
    std::int32_t wheel2 = 0;
    friend bool operator==(const ScrollEvent&, const ScrollEvent&) = default;
};

// A key identified by its macOS virtual key code (ANSI layout), with the modifiers held for it.
struct KeyEvent {
    std::uint16_t keyCode = 0;
    EventFlags flags = eventFlags::none;
    bool down = true;
    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

// Where synthetic input goes: the platform's event injection, the pointer and the screens.
// Implementations are safe to call from several threads at once. Posting never reports failure:
// an event that cannot be made is skipped.
class EventPoster {
public:
    virtual ~EventPoster() = default;

    // Whether this process may inject input at all (the accessibility permission).
    virtual bool mayInjectInput() = 0;

    virtual void postMouse(const MouseEvent& event) = 0;
    virtual void postScroll(const ScrollEvent& event) = 0;
    virtual void postKey(const KeyEvent& event) = 0;
    // Types a piece of text exactly as given, independent of the keyboard layout.
    virtual void postText(const std::u16string& text) = 0;
    // Returns once everything posted so far has reached the display server.
    virtual void flush() = 0;

    // Absent when the platform cannot tell.
    virtual std::optional<Point> pointerLocation() = 0;
    // Frames of the attached screens, in the platform's screen order.
    virtual std::vector<Rect> screenFrames() = 0;

    // Runs work on the calling thread and returns true when the calls it makes on this poster need
    // not wait for another thread or a connection to open (each still waits for the display server,
    // within a time limit). Otherwise returns false without running it, and the caller runs the
    // work where it may wait. Exceptions from work pass through.
    virtual bool tryAtOnce(const std::function<void()>& /*work*/) { return false; }
};

}  // namespace kx
