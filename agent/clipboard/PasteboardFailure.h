#pragma once

#include <stdexcept>

namespace kx {

// Why a clipboard operation failed.
class PasteboardFailure : public std::runtime_error {
public:
    enum class Reason {
        unreachable,  // no clipboard to talk to (no display, say)
        timedOut,     // the clipboard, or the application that holds it, did not answer in time
        refused,      // the clipboard would not take the text
    };

    PasteboardFailure(Reason reason, const char* detail) : std::runtime_error(detail), reason_(reason) {}
    Reason reason() const { return reason_; }

private:
    Reason reason_;
};

}  // namespace kx
