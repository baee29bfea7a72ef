// Decodes and validates arbitrary text as an envelope; whatever decodes must encode and decode
// back to an equal envelope.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/Envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kx::Envelope envelope;
    try {
        envelope = kx::Envelope::decode(text);
    } catch (const kx::JSONDecodeError&) {
        return 0;
    }
    try {
        envelope.validate();
    } catch (const kx::ValidationFailure&) {
    }
    if (kx::Envelope::decode(envelope.encode()) != envelope) std::abort();
    return 0;
}
