#pragma once

#include <string>

namespace kx {

// Text read from the clipboard. An item larger than the reader takes in is cut short: `text` then
// holds its beginning and `complete` is false.
struct PasteboardText {
    std::string text;
    bool complete = true;

    friend bool operator==(const PasteboardText&, const PasteboardText&) = default;
};

}  // namespace kx
