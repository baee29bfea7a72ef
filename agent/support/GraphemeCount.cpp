#include "agent/support/GraphemeCount.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <memory>

namespace kx {

namespace {

struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};
struct TextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

// Code points: the count when segmentation is not available.
std::size_t codePointCount(std::string_view utf8) {
    std::size_t count = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

}  // namespace

std::size_t graphemeCount(std::string_view utf8) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, TextCloser> text(
        utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status));
    if (U_FAILURE(status)) return codePointCount(utf8);
    std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator(ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
    if (U_FAILURE(status)) return codePointCount(utf8);
    ubrk_setUText(iterator.get(), text.get(), &status);
    if (U_FAILURE(status)) return codePointCount(utf8);

    std::size_t count = 0;
    ubrk_first(iterator.get());
    while (ubrk_next(iterator.get()) != UBRK_DONE) ++count;
    return count;
}

bool exceedsGraphemes(std::string_view utf8, std::size_t limit) {
    // A character takes at least one byte, so short text cannot exceed the limit.
    return utf8.size() > limit && graphemeCount(utf8) > limit;
}

}  // namespace kx
