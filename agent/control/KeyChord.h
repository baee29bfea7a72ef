#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <string>

#include "agent/control/EventFlags.h"

namespace kx {

// Why a chord text could not be parsed.
struct KeyChordError : std::exception {
    enum class Case { unknownKey, unknownModifier, empty, modifiersOnly };
    Case which;
    std::string name;  // the offending part, for unknownKey and unknownModifier

    explicit KeyChordError(Case c, std::string part = {}) : which(c), name(std::move(part)) {}
    const char* what() const noexcept override;
};

// A key and the modifiers held while it is pressed, as written by the user: "ctrl+shift+t".
struct KeyChord {
    std::uint16_t keyCode = 0;  // macOS virtual key code on the ANSI layout
    EventFlags flags = eventFlags::none;

    // Parts joined by "+": modifiers, then one key; case-insensitive; a trailing "+" is the plus key.
    // Throws KeyChordError.
    static KeyChord parse(const std::string& text);

    // "ctrl", "alt", "shift", "meta" (Command on macOS, Super elsewhere).
    static const std::map<std::string, EventFlags>& modifiers();
    // Lower-case key names to virtual key codes.
    static const std::map<std::string, std::uint16_t>& keys();

    friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

}  // namespace kx
