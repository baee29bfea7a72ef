#pragma once

#include <cstdint>

#include <X11/X.h>

namespace kx {

// The X keysym of the key that a macOS virtual key code names on the ANSI layout, NoSymbol for a
// code that has none here.
KeySym keysymForMacKeyCode(std::uint16_t keyCode);

}  // namespace kx
