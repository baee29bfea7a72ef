#include "agent/update/FileDigest.h"

#include <sodium.h>

#include <fstream>
#include <vector>

namespace kx {

namespace {
constexpr std::size_t kChunkSize = 1'048'576;
constexpr char kHexDigits[] = "0123456789abcdef";
}  // namespace

std::optional<std::string> sha256HexOfFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    if (sodium_init() < 0) return std::nullopt;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<char> chunk(kChunkSize);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        auto got = in.gcount();
        if (got > 0) {
            crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(chunk.data()),
                                      static_cast<unsigned long long>(got));
        }
    }
    if (in.bad()) return std::nullopt;
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, digest);
    std::string hex;
    for (unsigned char byte : digest) {
        hex += kHexDigits[byte >> 4];
        hex += kHexDigits[byte & 0xF];
    }
    return hex;
}

}  // namespace kx
