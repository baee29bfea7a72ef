#pragma once

#include <cstdint>

namespace kx {

// Modifier flags of a key event, with the bit values of the macOS event flags so that chords
// mean the same on every platform.
using EventFlags = std::uint64_t;

namespace eventFlags {
inline constexpr EventFlags none = 0;
inline constexpr EventFlags shift = 0x20000;
inline constexpr EventFlags control = 0x40000;
inline constexpr EventFlags alternate = 0x80000;
inline constexpr EventFlags command = 0x100000;
}  // namespace eventFlags

}  // namespace kx
