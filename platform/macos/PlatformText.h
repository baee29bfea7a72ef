#pragma once

// The macOS build's wording of the texts in agent/support/PlatformText.h.
namespace kx::PlatformText {

inline constexpr const char* confirmToRun = "Confirm on your Mac to run this";
inline constexpr const char* tmuxMissing =
    "Terminal sessions need tmux, which isn't installed on this Mac. Install it, then quit and reopen Kestrix.";
inline constexpr const char* tmuxInstallCommand = "brew install tmux";
inline constexpr const char* accessibilityRationale = "Lets Kestrix press keys and move the pointer on your Mac.";
// Followed by the pane's anchor, e.g. "Privacy_Accessibility".
inline constexpr const char* privacySettingsURLPrefix = "x-apple.systempreferences:com.apple.preference.security?";
inline constexpr const char* clipboardUnreachable = "The clipboard can't be reached on this Mac.";
inline constexpr const char* fileSelectionUnsupported =
    "The Finder selection can't be read on this Mac. Revealing and opening files works.";
inline constexpr const char* browserTabsUnsupported =
    "Browser tabs can't be controlled on this Mac. Opening links in the browser works.";

}  // namespace kx::PlatformText
