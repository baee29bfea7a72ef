#include "protocol/Base64URL.h"

#include <sodium.h>

namespace kx {

namespace {
constexpr std::size_t groupLength = 4;  // characters per 3 bytes
constexpr std::size_t groupBytes = 3;
}  // namespace

std::string base64URLEncode(ByteView bytes) {
    constexpr int variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
    std::string out(sodium_base64_ENCODED_LEN(bytes.size(), variant), '\0');  // includes the terminator
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), variant);
    out.resize(out.size() - 1);
    return out;
}

std::optional<Bytes> base64URLDecode(std::string_view text) {
    // No amount of padding completes a group holding a single character.
    if (text.size() % groupLength == 1) return std::nullopt;
    if (text.empty()) return Bytes{};  // libsodium wants a non-null output buffer
    std::string standard(text);
    for (char& c : standard) {
        if (c == '-')
            c = '+';
        else if (c == '_')
            c = '/';
    }
    standard.append((groupLength - standard.size() % groupLength) % groupLength, '=');
    Bytes out(standard.size() / groupLength * groupBytes);
    std::size_t length = 0;
    // No characters to ignore and no end pointer: libsodium then fails unless it consumed every
    // character as strict, correctly padded base64.
    if (sodium_base642bin(out.data(), out.size(), standard.data(), standard.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return std::nullopt;
    out.resize(length);
    return out;
}

}  // namespace kx
