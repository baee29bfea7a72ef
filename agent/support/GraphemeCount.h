#pragma once

#include <cstddef>
#include <string_view>

namespace kx {

// Number of user-perceived characters (extended grapheme clusters) in UTF-8 text: the unit of
// every text-length limit on the wire. Malformed UTF-8 counts each replaced sequence once.
std::size_t graphemeCount(std::string_view utf8);

// True when the text holds more than `limit` user-perceived characters; only segments text whose
// byte length could exceed the limit.
bool exceedsGraphemes(std::string_view utf8, std::size_t limit);

}  // namespace kx
