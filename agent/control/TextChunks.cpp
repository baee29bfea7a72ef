#include "agent/control/TextChunks.h"

#include <limits>
#include <memory>
#include <stdexcept>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

namespace kx {

std::optional<std::vector<std::u16string>> chunkByCharacters(std::string_view utf8, std::size_t perChunk,
                                                             std::size_t maxCharacters) {
    if (perChunk == 0) throw std::invalid_argument("chunk size must be positive");
    // ICU indexes with 32-bit integers; such a text is far beyond any sensible limit anyway.
    if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) return std::nullopt;
    const auto text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) throw std::runtime_error("no character break iterator");
    characters->setText(text);

    std::vector<std::u16string> chunks;
    std::size_t count = 0;
    int32_t chunkStart = 0;
    for (int32_t end = characters->next(); end != icu::BreakIterator::DONE; end = characters->next()) {
        if (++count > maxCharacters) return std::nullopt;
        if (count % perChunk == 0 || end == text.length()) {
            chunks.emplace_back(text.getBuffer() + chunkStart, text.getBuffer() + end);
            chunkStart = end;
        }
    }
    return chunks;
}

}  // namespace kx
