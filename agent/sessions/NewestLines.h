#pragma once

#include <cstddef>
#include <string_view>

namespace kx {

// The longest run of whole lines at the end of `text` whose JSON string form (without the quotes)
// takes at most `maxJSONBytes`. Cutting only after a line feed never splits a UTF-8 sequence or a
// terminal escape sequence. Empty when not even the last line fits.
std::string_view newestLines(std::string_view text, std::size_t maxJSONBytes);

}  // namespace kx
