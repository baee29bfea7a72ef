#include "platform/linux/input/X11Keyboard.h"

#include <algorithm>
#include <thread>

#include "platform/linux/input/X11FocusPing.h"

namespace kx {

namespace {
// Symbols written for a bound key: the same keysym on both shift levels, so that neither Shift nor
// an automatic upper-case level changes what it types.
constexpr int kBoundColumns = 2;
}  // namespace

void X11Keyboard::reset() {
    caughtUp_ = {};
    loaded_ = false;
    mapping_.clear();
    bound_.clear();
}

void X11Keyboard::load(Display* display, std::uint64_t mappingChanges) {
    if (loaded_ && loadedAt_ == mappingChanges) return;
    XDisplayKeycodes(display, &minKeycode_, &maxKeycode_);
    int per = 0;
    KeySym* symbols =
        XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode_), maxKeycode_ - minKeycode_ + 1, &per);
    mapping_.clear();
    perKeycode_ = symbols ? per : 0;
    if (symbols) {
        mapping_.assign(symbols, symbols + static_cast<std::size_t>(per) * (maxKeycode_ - minKeycode_ + 1));
        XFree(symbols);
    }
    loaded_ = true;
    loadedAt_ = mappingChanges;
    // Bindings that someone else replaced meanwhile are no longer ours to restore.
    std::erase_if(bound_, [&](const auto& entry) { return symbolAt(entry.first, 0) != entry.second.keysym; });
}

KeySym X11Keyboard::symbolAt(int keycode, int column) const {
    if (keycode < minKeycode_ || keycode > maxKeycode_ || column >= perKeycode_) return NoSymbol;
    return mapping_[static_cast<std::size_t>(keycode - minKeycode_) * perKeycode_ + column];
}

std::optional<X11Keyboard::Stroke> X11Keyboard::find(KeySym keysym) const {
    // The base level anywhere wins over the shifted level, so plain keys are typed without Shift.
    for (int column = 0; column < std::min(kBoundColumns, perKeycode_); ++column)
        for (int keycode = minKeycode_; keycode <= maxKeycode_; ++keycode)
            if (symbolAt(keycode, column) == keysym) return Stroke{static_cast<KeyCode>(keycode), column == 1};
    return std::nullopt;
}

std::optional<X11Keyboard::Stroke> X11Keyboard::stroke(Display* display, KeySym keysym, std::uint64_t mappingChanges) {
    if (keysym == NoSymbol) return std::nullopt;
    load(display, mappingChanges);
    if (auto found = find(keysym)) {
        if (auto it = bound_.find(found->keycode); it != bound_.end()) it->second.lastUsed = Clock::now();
        return found;
    }
    auto keycode = spareKeycode();
    if (!keycode) return std::nullopt;
    if (auto previous = bound_.find(*keycode); previous != bound_.end())
        waitForClient(display, previous->second.lastUsed);
    setSymbol(display, *keycode, keysym);
    bound_[*keycode] = {keysym, Clock::now()};
    return Stroke{*keycode, false};
}

void X11Keyboard::waitForClient(Display* display, Clock::time_point lastUsed) {
    if (lastUsed < caughtUp_) return;
    XSync(display, False);
    const auto sent = Clock::now();
    if (pingFocusedClient(display, pingTimeout)) {
        caughtUp_ = sent;
        return;
    }
    const auto age = Clock::now() - lastUsed;
    if (age < rebindGrace) std::this_thread::sleep_for(rebindGrace - age);
}

std::optional<KeyCode> X11Keyboard::modifierKey(Display* display, KeySym keysym, std::uint64_t mappingChanges) {
    load(display, mappingChanges);
    for (int keycode = minKeycode_; keycode <= maxKeycode_; ++keycode)
        if (symbolAt(keycode, 0) == keysym) return static_cast<KeyCode>(keycode);
    return std::nullopt;
}

std::optional<KeyCode> X11Keyboard::spareKeycode() const {
    std::optional<KeyCode> oldest;
    for (int keycode = maxKeycode_; keycode >= minKeycode_; --keycode) {
        const auto code = static_cast<KeyCode>(keycode);
        if (auto it = bound_.find(code); it != bound_.end()) {
            if (!oldest || it->second.lastUsed < bound_.at(*oldest).lastUsed) oldest = code;
            continue;
        }
        bool empty = true;
        for (int column = 0; column < perKeycode_ && empty; ++column) empty = symbolAt(keycode, column) == NoSymbol;
        if (empty) return code;
    }
    return oldest;
}

void X11Keyboard::setSymbol(Display* display, KeyCode keycode, KeySym keysym) {
    KeySym symbols[kBoundColumns] = {keysym, keysym};
    XChangeKeyboardMapping(display, keycode, kBoundColumns, symbols, 1);
    for (int column = 0; column < perKeycode_; ++column)
        mapping_[static_cast<std::size_t>(keycode - minKeycode_) * perKeycode_ + column] =
            column < kBoundColumns ? keysym : NoSymbol;
}

std::optional<X11Keyboard::Clock::time_point> X11Keyboard::restoreIdle(Display* display, Clock::time_point idleSince) {
    std::optional<Clock::time_point> next;
    for (auto it = bound_.begin(); it != bound_.end();) {
        if (it->second.lastUsed <= idleSince) {
            setSymbol(display, it->first, NoSymbol);
            it = bound_.erase(it);
            continue;
        }
        const auto due = it->second.lastUsed + bindingLifetime;
        if (!next || due < *next) next = due;
        ++it;
    }
    return next;
}

void X11Keyboard::restoreAll(Display* display) {
    restoreIdle(display, Clock::time_point::max());
}

}  // namespace kx
