#pragma once

#include <string>
#include <string_view>

namespace kx {

// The text with A-Z made a-z and every other byte as it is, whatever the process's locale: for
// names that compare without case (URL schemes, key names, window classes).
inline std::string asciiLowercase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

}  // namespace kx
