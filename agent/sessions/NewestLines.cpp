#include "agent/sessions/NewestLines.h"

namespace kx {

namespace {

constexpr std::size_t kShortEscape = 2;  // \" \\ \b \f \n \r \t
constexpr std::size_t kLongEscape = 6;   // \u00XX for the other control characters
constexpr unsigned char kFirstPrintable = 0x20;

// Bytes the JSON writer spends on `text`: valid UTF-8 and DEL travel as themselves.
std::size_t jsonBytes(std::string_view text) {
    std::size_t total = 0;
    for (char c : text) {
        switch (c) {
            case '"':
            case '\\':
            case '\b':
            case '\f':
            case '\n':
            case '\r':
            case '\t': total += kShortEscape; break;
            default: total += static_cast<unsigned char>(c) < kFirstPrintable ? kLongEscape : 1;
        }
    }
    return total;
}

}  // namespace

std::string_view newestLines(std::string_view text, std::size_t maxJSONBytes) {
    std::size_t start = text.size();
    std::size_t used = 0;
    while (start > 0) {
        // The line ending at `start` begins after the line feed before its own last byte.
        auto previousEnd = start >= 2 ? text.rfind('\n', start - 2) : std::string_view::npos;
        std::size_t lineStart = previousEnd == std::string_view::npos ? 0 : previousEnd + 1;
        used += jsonBytes(text.substr(lineStart, start - lineStart));
        if (used > maxJSONBytes) break;
        start = lineStart;
    }
    return text.substr(start);
}

}  // namespace kx
