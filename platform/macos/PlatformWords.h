#pragma once

#include <array>

// Words that belong to the macOS wording only: no text shown on another platform may hold one.
namespace kx::MacWords {

inline constexpr std::array all{"Mac", "macOS", "reopen", "System Settings", "brew", "x-apple", "Homebrew"};

}  // namespace kx::MacWords
