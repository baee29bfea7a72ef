#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/Bytes.h"

namespace kx {

// Base64 with "-" and "_" and no padding: the form of every binary value inside JSON.
std::string base64URLEncode(ByteView bytes);
// Maps "-" and "_" back, pads with "=" and decodes strict base64, so the standard alphabet is
// accepted too; any other character (whitespace included) or a length of 1 mod 4 fails.
std::optional<Bytes> base64URLDecode(std::string_view text);

}  // namespace kx
