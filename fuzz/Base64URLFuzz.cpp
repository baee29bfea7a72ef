// Base64url: any bytes encode and decode back; any text that decodes re-encodes to text that
// decodes to the same bytes, and never holds a character outside the url alphabet.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/Base64URL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kx::ByteView bytes(data, size);
    const std::string encoded = kx::base64URLEncode(bytes);
    if (encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") !=
        std::string::npos)
        std::abort();
    const auto roundTrip = kx::base64URLDecode(encoded);
    if (!roundTrip || !std::equal(roundTrip->begin(), roundTrip->end(), bytes.begin(), bytes.end())) std::abort();

    const auto decoded = kx::base64URLDecode(kx::asText(bytes));
    if (!decoded) return 0;
    if (size % 4 == 1) std::abort();
    if (kx::base64URLDecode(kx::base64URLEncode(*decoded)) != decoded) std::abort();
    return 0;
}
