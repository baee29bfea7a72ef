#pragma once

#include <cstddef>
#include <string>

namespace kx {

// What the clipboard holds, without its text: "link", "text block" or "text", and its length in
// user-perceived characters.
struct ClipboardPreview {
    std::string kind;
    std::size_t characters = 0;

    friend bool operator==(const ClipboardPreview&, const ClipboardPreview&) = default;
};

}  // namespace kx
