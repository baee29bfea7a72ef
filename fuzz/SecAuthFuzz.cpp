// Decodes arbitrary text as the phone's handshake message; whatever decodes must round-trip.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/HandshakeMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kx::SecAuth auth;
    try {
        auth = kx::SecAuth::decode(text);
    } catch (const kx::JSONDecodeError&) {
        return 0;
    }
    if (kx::SecAuth::decode(auth.encode()) != auth) std::abort();
    return 0;
}
