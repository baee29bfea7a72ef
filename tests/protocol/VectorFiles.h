#pragma once

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include <sodium.h>
#include <nlohmann/json.hpp>

#include "protocol/Bytes.h"
#include "protocol/FrameAccumulator.h"

namespace kx::test {

// The shared protocol vectors live in tests/vectors of the source tree.
inline nlohmann::json loadVectors(const std::string& name) {
    const char* root = std::getenv("KX_SOURCE_DIR");
    if (!root) throw std::runtime_error("KX_SOURCE_DIR is not set");
    std::ifstream in(std::string(root) + "/tests/vectors/" + name);
    if (!in) throw std::runtime_error("cannot open vector file " + name);
    return nlohmann::json::parse(in);
}

inline Bytes fromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex length");
    Bytes out;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

template <std::size_t N>
std::array<std::uint8_t, N> arrayFromHex(std::string_view hex) {
    Bytes bytes = fromHex(hex);
    if (bytes.size() != N) throw std::invalid_argument("hex has the wrong length");
    std::array<std::uint8_t, N> out;
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

inline std::string toHex(ByteView bytes) {
    std::string out(2 * bytes.size() + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes.data(), bytes.size());
    out.pop_back();
    return out;
}

// The body of a framed message, as FrameAccumulator delivers it.
inline Bytes bodyOf(const Bytes& frame) {
    return Bytes(frame.begin() + FrameAccumulator::prefixLength, frame.end());
}

}  // namespace kx::test
