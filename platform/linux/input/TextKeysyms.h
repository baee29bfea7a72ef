#pragma once

#include <string>
#include <vector>

#include <X11/X.h>

namespace kx {

// The keysyms that type a UTF-16 text one character at a time: Latin-1 characters are their own
// keysyms, every other character its Unicode keysym (0x01000000 + code point). A line break (LF,
// CR or CR LF) is Return, a tab Tab; other control characters and unpaired surrogates are skipped.
std::vector<KeySym> keysymsForText(const std::u16string& text);

}  // namespace kx
