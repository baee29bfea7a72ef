#pragma once

#include <optional>
#include <string>

#include "agent/clipboard/Pasteboard.h"
#include "agent/clipboard/PasteboardFailure.h"

namespace kx::testing {

// A clipboard in memory that can be told to refuse writes or to stop answering altogether.
struct MemoryPasteboard : Pasteboard {
    std::optional<std::string> text;
    bool refusesWrites = false;
    bool hangs = false;

    bool isAvailable() override { return !hangs; }
    bool isMarkedPrivate() override { return answer(false); }
    std::optional<PasteboardText> readText() override {
        return answer(text ? std::optional(PasteboardText{*text, true}) : std::nullopt);
    }
    void writeText(const std::string& newText) override {
        if (refusesWrites) throw PasteboardFailure(PasteboardFailure::Reason::refused, "refused");
        text = newText;
    }
    template <class T>
    T answer(T value) const {
        if (hangs) throw PasteboardFailure(PasteboardFailure::Reason::timedOut, "no answer");
        return value;
    }
};

}  // namespace kx::testing
