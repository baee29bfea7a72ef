#pragma once

#include <optional>
#include <string>

#include "agent/clipboard/PasteboardText.h"

namespace kx {

// The system clipboard as the clipboard controller needs it: plain text in and out, and the marker
// by which password managers flag an item as private. Every call reads or writes the clipboard in
// one pass and keeps nothing; failures throw PasteboardFailure.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // Whether the clipboard can be reached at all; decides whether the clipboard is offered.
    virtual bool isAvailable() = 0;
    // Whether the current item is marked private, found without reading its text.
    virtual bool isMarkedPrivate() = 0;
    // The current item's plain text as valid UTF-8; absent when the item holds no text.
    virtual std::optional<PasteboardText> readText() = 0;
    // Replaces the contents with the text in one step: on failure the previous contents stay.
    virtual void writeText(const std::string& text) = 0;
};

}  // namespace kx
