#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "tests/support/TempFolder.h"

namespace kx::fuzz {

// Writes one input as the file `name` in a private folder made once per run, and returns its path,
// for targets that fuzz a reader through the path it is given.
inline const std::filesystem::path& inputFile(const std::filesystem::path& name, const std::uint8_t* data,
                                              std::size_t size) {
    static const kx::testing::TempFolder folder("fuzz-input");
    static const std::filesystem::path file = folder / name;
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);
    return file;
}

}  // namespace kx::fuzz
