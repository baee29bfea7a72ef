#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "agent/clipboard/ClipboardPreview.h"
#include "agent/clipboard/Pasteboard.h"

namespace kx {

// Reads, previews and replaces the plain text of the clipboard for the phone. Keeps nothing between
// calls: other applications may change the clipboard at any time. Throws WireError.
class ClipboardController {
public:
    // In user-perceived characters, both ways: 65536 passes, 65537 does not.
    static constexpr std::size_t textLimit = 65536;

    explicit ClipboardController(std::shared_ptr<Pasteboard> pasteboard);

    bool isAvailable() const;
    // The text, absent when the clipboard holds none. A private item is refused unread.
    std::optional<std::string> read() const;
    // Refuses text over the limit before touching the clipboard; a failed write keeps what was there.
    void write(const std::string& text) const;
    // Kind and length of the text, private or not, of any size; absent when there is no text.
    std::optional<ClipboardPreview> preview() const;

private:
    std::optional<PasteboardText> readText() const;

    std::shared_ptr<Pasteboard> pasteboard_;
};

}  // namespace kx
