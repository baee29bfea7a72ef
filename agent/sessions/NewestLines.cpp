#include "agent/sessions/NewestLines.h"

#include <charconv>
#include <vector>

namespace kx {

namespace {

constexpr std::size_t kShortEscape = 2;  // \" \\ \b \f \n \r \t
constexpr std::size_t kLongEscape = 6;   // \u00XX for the other control characters
constexpr unsigned char kFirstPrintable = 0x20;
constexpr std::size_t kMaxStyleSequences = 16;
constexpr std::string_view kIntroducer = "\x1b[";

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

bool isForeground(int code) {
    return (code >= 30 && code <= 39) || (code >= 90 && code <= 97);
}

bool isBackground(int code) {
    return (code >= 40 && code <= 49) || (code >= 100 && code <= 107);
}

bool isUnderlineColour(int code) {
    return code == 58 || code == 59;
}

// The style in force at the end of `text`. tmux gives the attributes (starting again from 0 when
// one is cleared), the foreground, the background and the underline colour each an SGR sequence
// of their own, so the sequences since the last reset, the last of each colour, say it all.
std::string styleAtEnd(std::string_view text) {
    std::vector<std::string_view> attributes;
    std::string_view foreground, background, underline;
    for (auto at = text.find(kIntroducer); at != std::string_view::npos; at = text.find(kIntroducer, at + 1)) {
        auto end = text.find_first_not_of("0123456789;:", at + kIntroducer.size());
        if (end == std::string_view::npos || text[end] != 'm') continue;
        auto sequence = text.substr(at, end + 1 - at);
        int code = 0;
        std::from_chars(sequence.data() + kIntroducer.size(), sequence.data() + sequence.size(), code);
        if (isForeground(code)) {
            foreground = sequence;
        } else if (isBackground(code)) {
            background = sequence;
        } else if (isUnderlineColour(code)) {
            underline = sequence;
        } else {
            if (code == 0) {  // a reset clears the colours as well
                attributes.clear();
                foreground = background = underline = {};
            }
            if (attributes.size() < kMaxStyleSequences) attributes.push_back(sequence);
        }
    }
    std::string style;
    for (auto sequence : attributes) style += sequence;
    return style.append(foreground).append(background).append(underline);
}

}  // namespace

std::string newestLines(std::string_view text, std::size_t maxJSONBytes) {
    std::size_t start = text.size();
    std::size_t used = 0;
    const std::size_t budget = maxJSONBytes > maxCarriedStyleJSONBytes ? maxJSONBytes - maxCarriedStyleJSONBytes : 0;
    if (jsonBytes(text) <= maxJSONBytes) return std::string(text);
    while (start > 0) {
        // The line ending at `start` begins after the line feed before its own last byte.
        auto previousEnd = start >= 2 ? text.rfind('\n', start - 2) : std::string_view::npos;
        std::size_t lineStart = previousEnd == std::string_view::npos ? 0 : previousEnd + 1;
        used += jsonBytes(text.substr(lineStart, start - lineStart));
        if (used > budget) break;
        start = lineStart;
    }
    auto style = styleAtEnd(text.substr(0, start));
    if (jsonBytes(style) > maxCarriedStyleJSONBytes) style.clear();
    return style.append(text.substr(start));
}

}  // namespace kx
