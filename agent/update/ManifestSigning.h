#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "protocol/Bytes.h"

namespace kx {

struct ManifestNotAnObject : std::invalid_argument {
    ManifestNotAnObject() : std::invalid_argument("the manifest is not a JSON object") {}
};

// The publisher's side of manifest verification: parses `manifest`, drops any "signature",
// signs the canonical form of the rest with `seed` and returns the canonical manifest with its
// new "signature" (unpadded base64url). Throws CanonicalJSON::ParseError or ManifestNotAnObject.
std::string signManifest(std::string_view manifest, const Key32& seed);

}  // namespace kx
