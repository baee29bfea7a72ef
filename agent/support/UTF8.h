#pragma once

#include <string>
#include <string_view>

namespace kx {

bool isValidUTF8(std::string_view bytes);
// Replaces every malformed sequence with U+FFFD, so that the text can travel in JSON.
std::string repairUTF8(std::string_view bytes);

}  // namespace kx
