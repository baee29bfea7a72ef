#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kx {

// Lower-case hexadecimal SHA-256 of a file's contents, read in 1 MiB chunks so memory stays
// flat whatever the size; absent when the file cannot be read.
std::optional<std::string> sha256HexOfFile(const std::filesystem::path& file);

}  // namespace kx
