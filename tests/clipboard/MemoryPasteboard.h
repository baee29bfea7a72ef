#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "agent/clipboard/Pasteboard.h"
#include "agent/clipboard/PasteboardFailure.h"

namespace kx::testing {

// A clipboard in memory that records how often its text was read; it can be told to hold a
// private item, to refuse writes or to stop answering.
class MemoryPasteboard : public Pasteboard {
public:
    std::optional<std::string> text;
    bool markedPrivate = false;
    bool refusesWrites = false;
    bool hangs = false;
    int textReads = 0;

    bool isAvailable() override { return !hangs; }
    bool isMarkedPrivate() override {
        failIfHanging();
        return markedPrivate;
    }
    std::optional<PasteboardText> readText() override {
        failIfHanging();
        ++textReads;
        if (!text) return std::nullopt;
        return PasteboardText{*text, true};
    }
    void writeText(const std::string& newText) override {
        if (refusesWrites) throw PasteboardFailure(PasteboardFailure::Reason::refused, "refused");
        text = newText;
        markedPrivate = false;
    }

private:
    void failIfHanging() const {
        if (hangs) throw PasteboardFailure(PasteboardFailure::Reason::timedOut, "no answer");
    }
};

}  // namespace kx::testing
