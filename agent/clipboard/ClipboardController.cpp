#include "agent/clipboard/ClipboardController.h"

#include "agent/clipboard/PasteboardFailure.h"
#include "agent/support/GraphemeCount.h"
#include "protocol/WireError.h"

namespace kx {

namespace {

WireError readFailure(const PasteboardFailure& failure) {
    if (failure.reason() == PasteboardFailure::Reason::timedOut)
        return {ErrorCode::timeout, "The clipboard did not answer in time"};
    return {ErrorCode::internal, "Could not read the clipboard"};
}

std::string kindOf(const std::string& text) {
    if (text.starts_with("http://") || text.starts_with("https://")) return "link";
    if (text.find('\n') != std::string::npos) return "text block";
    return "text";
}

}  // namespace

ClipboardController::ClipboardController(std::shared_ptr<Pasteboard> pasteboard) : pasteboard_(std::move(pasteboard)) {}

bool ClipboardController::isAvailable() const {
    return pasteboard_->isAvailable();
}

std::optional<PasteboardText> ClipboardController::readText() const {
    try {
        return pasteboard_->readText();
    } catch (const PasteboardFailure& failure) {
        throw readFailure(failure);
    }
}

std::optional<std::string> ClipboardController::read() const {
    bool marked = false;
    try {
        marked = pasteboard_->isMarkedPrivate();
    } catch (const PasteboardFailure& failure) {
        throw readFailure(failure);
    }
    if (marked) throw WireError(ErrorCode::permissionDenied, "That clipboard item is marked private");
    auto text = readText();
    if (!text) return std::nullopt;
    if (!text->complete || exceedsGraphemes(text->text, textLimit))
        throw WireError(ErrorCode::unsupported, "Clipboard is too large to send");
    return std::move(text->text);
}

void ClipboardController::write(const std::string& text) const {
    if (exceedsGraphemes(text, textLimit)) throw WireError::invalidParams("Text is too large");
    try {
        pasteboard_->writeText(text);
    } catch (const PasteboardFailure&) {
        throw WireError(ErrorCode::internal, "Could not write the clipboard");
    }
}

std::optional<ClipboardPreview> ClipboardController::preview() const {
    auto text = readText();
    if (!text) return std::nullopt;
    // A text cut short by the reader reports the length of what was read.
    return ClipboardPreview{kindOf(text->text), graphemeCount(text->text)};
}

}  // namespace kx
