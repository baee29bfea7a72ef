#include "agent/support/UTF8.h"

#include <unicode/utf8.h>

namespace kx {

namespace {
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD
}

bool isValidUTF8(std::string_view bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto length = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(data, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string repairUTF8(std::string_view bytes) {
    if (isValidUTF8(bytes)) return std::string(bytes);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto length = static_cast<int32_t>(bytes.size());
    std::string out;
    out.reserve(bytes.size());
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(data, i, length, c);
        if (c < 0)
            out += kReplacement;
        else
            out.append(bytes.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
    return out;
}

}  // namespace kx
