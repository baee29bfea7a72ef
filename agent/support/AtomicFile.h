#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// Replaces `path` with `contents` so that a crash at any moment leaves either the old or the new
// file: write a temporary file in the same folder, fsync it, rename it over the old one, fsync the
// folder. Throws std::system_error on failure (the temporary file is removed).
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents, mode_t mode = 0644);

// The whole file, or absent when it cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

// The whole content of a regular file of at most `limit` bytes. The file is opened without blocking, so a FIFO or
// device in its place is refused rather than waited on. Throws std::system_error: ENOENT when there is none,
// EINVAL when it is not a regular file, EFBIG when it is larger than `limit`, else the failing call's.
std::string readRegularFile(const std::filesystem::path& path, std::size_t limit);

}  // namespace kx
