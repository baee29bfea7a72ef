#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// Splits UTF-8 text into consecutive pieces of `perChunk` user-perceived characters (extended
// grapheme clusters, so an emoji sequence or a letter with its combining marks is never cut),
// each as UTF-16. The last piece may be shorter; empty text gives no pieces. Absent when the text
// has more than maxCharacters characters. Invalid UTF-8 sequences count as U+FFFD.
std::optional<std::vector<std::u16string>> chunkByCharacters(std::string_view utf8, std::size_t perChunk,
                                                             std::size_t maxCharacters);

}  // namespace kx
