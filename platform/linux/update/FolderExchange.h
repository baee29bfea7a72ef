#pragma once

#include <filesystem>

namespace kx {

// Swaps two folders' names in one step (renameat2 with RENAME_EXCHANGE), so that a crash or power
// cut leaves each name holding one complete folder. Where the file system cannot exchange, falls
// back to three renames through a temporary name beside `a`. Returns whether the swap happened.
bool exchangeFolders(const std::filesystem::path& a, const std::filesystem::path& b);

// The swap script runs `kestrixd --exchange-folders A B` for this; exit status 0 on success.
inline constexpr const char* exchangeFoldersFlag = "--exchange-folders";

}  // namespace kx
