#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kx {

// The longest run of whole lines at the end of tmux's capture `text` whose JSON string form
// (without the quotes) takes at most `maxJSONBytes`. Cutting only after a line feed never splits
// a UTF-8 sequence or a terminal escape sequence. tmux writes a style only where it changes, so
// when lines are dropped the style in force at the cut comes first, as SGR sequences. Empty when
// not even the last line fits.
std::string newestLines(std::string_view text, std::size_t maxJSONBytes);
// Of `maxJSONBytes`, the room kept for that style once lines are dropped; a longer style is left out.
inline constexpr std::size_t maxCarriedStyleJSONBytes = 1024;

}  // namespace kx
