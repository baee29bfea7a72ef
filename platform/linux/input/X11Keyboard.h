#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include <X11/Xlib.h>

namespace kx {

// Finds the key and shift level that type a keysym in the server's keyboard mapping. A keysym the
// mapping lacks is bound to a spare keycode (one without symbols) for as long as it is in use and
// restored once idle, so that any character can be typed whatever the layout. Restoring waits
// until clients have had time to read the changed mapping before they look up the key events.
// Not thread-safe: use it under the X connection's lock.
class X11Keyboard {
public:
    using Clock = std::chrono::steady_clock;
    // Clients look a key event up in the mapping they hold when they process it, so a binding must
    // outlive the events that use it by as long as a busy client may lag behind. How long a
    // binding stays after its last use:
    static constexpr std::chrono::milliseconds bindingLifetime{1000};
    // Before a recently used binding is replaced because no keycode is free, the focused client is
    // pinged to make sure it has looked up the keys that used it; this long at most:
    static constexpr std::chrono::milliseconds pingTimeout{1000};
    // For clients that do not take pings, the least age of a binding that is replaced.
    static constexpr std::chrono::milliseconds rebindGrace{200};

    struct Stroke {
        KeyCode keycode = 0;
        bool shift = false;
    };

    // Drops all knowledge of the server (a new connection).
    void reset();
    // Where the keysym is in the mapping, binding it if it is missing; absent when it is NoSymbol
    // or no spare keycode exists. Send the key before asking for the next one: with every spare
    // keycode in use, the least recently used binding is replaced.
    std::optional<Stroke> stroke(Display* display, KeySym keysym, std::uint64_t mappingChanges);
    // The keycode of a modifier key, such as XK_Shift_L, at the base level.
    std::optional<KeyCode> modifierKey(Display* display, KeySym keysym, std::uint64_t mappingChanges);

    // Restores the bindings unused since `idleSince`; returns when the next one falls due.
    std::optional<Clock::time_point> restoreIdle(Display* display, Clock::time_point idleSince);
    void restoreAll(Display* display);
    bool hasBindings() const { return !bound_.empty(); }

private:
    struct Binding {
        KeySym keysym = NoSymbol;
        Clock::time_point lastUsed;
    };

    void load(Display* display, std::uint64_t mappingChanges);
    KeySym symbolAt(int keycode, int column) const;
    std::optional<Stroke> find(KeySym keysym) const;
    std::optional<KeyCode> spareKeycode() const;
    void setSymbol(Display* display, KeyCode keycode, KeySym keysym);
    // Returns once the focused client has caught up with a binding last used at `lastUsed`.
    void waitForClient(Display* display, Clock::time_point lastUsed);

    bool loaded_ = false;
    std::uint64_t loadedAt_ = 0;  // the mapping-change count the copy reflects
    int minKeycode_ = 0;
    int maxKeycode_ = 0;
    int perKeycode_ = 0;
    std::vector<KeySym> mapping_;
    std::map<KeyCode, Binding> bound_;
    // Everything sent before this time has been read by the focused client.
    Clock::time_point caughtUp_{};
};

}  // namespace kx
