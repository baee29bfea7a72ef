// Canonical JSON: any input either fails with an offset inside it or parses to a value whose
// canonical form parses back to the same canonical form. The manifest check never crashes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent/update/CanonicalJSON.h"
#include "agent/update/UpdateManifest.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        auto canonical = CanonicalJSON::serialize(CanonicalJSON::parse(input));
        if (CanonicalJSON::serialize(CanonicalJSON::parse(canonical)) != canonical) std::abort();
    } catch (const CanonicalJSON::ParseError& error) {
        if (error.offset > size) std::abort();
    }
    try {
        UpdateManifest::verified(input, Key32{}, "linux");
    } catch (const UpdateManifest::Error&) {
    }
    return 0;
}
