#include "platform/linux/input/TextKeysyms.h"

#include <X11/keysym.h>

namespace kx {

namespace {

constexpr char32_t kLineFeed = 0x0A, kCarriageReturn = 0x0D, kTab = 0x09;
constexpr char32_t kFirstPrintable = 0x20, kDelete = 0x7F, kLastC1Control = 0x9F, kLastLatin1 = 0xFF;
constexpr KeySym kUnicodeKeysymBase = 0x01000000;

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

KeySym keysymForCharacter(char32_t c) {
    switch (c) {
        case kLineFeed:
        case kCarriageReturn: return XK_Return;
        case kTab: return XK_Tab;
        default: break;
    }
    if (c < kFirstPrintable || (c >= kDelete && c <= kLastC1Control)) return NoSymbol;
    if (c <= kLastLatin1) return c;
    return kUnicodeKeysymBase + c;
}

}  // namespace

std::vector<KeySym> keysymsForText(const std::u16string& text) {
    std::vector<KeySym> keysyms;
    char32_t previous = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((char32_t(text[i]) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (isHighSurrogate(text[i]) || isLowSurrogate(text[i])) {
            previous = 0;
            continue;
        }
        const bool secondHalfOfCRLF = previous == kCarriageReturn && c == kLineFeed;
        previous = c;
        if (secondHalfOfCRLF) continue;
        if (KeySym keysym = keysymForCharacter(c); keysym != NoSymbol) keysyms.push_back(keysym);
    }
    return keysyms;
}

}  // namespace kx
