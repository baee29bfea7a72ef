#pragma once

#include <array>

// Every text a person may read that names the computer, its settings or how to install a tool.
// The macOS build keeps the Mac wording; elsewhere the texts speak of "this computer".
namespace kx::PlatformText {

#if defined(__APPLE__)
inline constexpr const char* confirmToRun = "Confirm on your Mac to run this";
inline constexpr const char* tmuxMissing =
    "Terminal sessions need tmux, which isn't installed on this Mac. Install it, then quit and reopen Kestrix.";
inline constexpr const char* tmuxInstallCommand = "brew install tmux";
inline constexpr const char* accessibilityRationale = "Lets Kestrix press keys and move the pointer on your Mac.";
// Followed by the pane's anchor, e.g. "Privacy_Accessibility".
inline constexpr const char* privacySettingsURLPrefix = "x-apple.systempreferences:com.apple.preference.security?";
#else
inline constexpr const char* confirmToRun = "Confirm on your computer to run this";
inline constexpr const char* tmuxMissing =
    "Terminal sessions need tmux, which isn't installed on this computer. Install it, then restart Kestrix.";
inline constexpr const char* tmuxInstallCommand = "sudo apt install tmux";
inline constexpr const char* accessibilityRationale = "Lets Kestrix press keys and move the pointer on your computer.";
// Empty: there is no settings pane to open.
inline constexpr const char* privacySettingsURLPrefix = "";
#endif

inline constexpr std::array all{confirmToRun, tmuxMissing, tmuxInstallCommand, accessibilityRationale,
                                privacySettingsURLPrefix};

}  // namespace kx::PlatformText
