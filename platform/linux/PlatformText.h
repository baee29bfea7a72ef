#pragma once

// The Linux build's wording of the texts in agent/support/PlatformText.h: the computer, not a Mac.
namespace kx::PlatformText {

inline constexpr const char* confirmToRun = "Confirm on your computer to run this";
inline constexpr const char* tmuxMissing =
    "Terminal sessions need tmux, which isn't installed on this computer. Install it, then restart Kestrix.";
inline constexpr const char* tmuxInstallCommand = "sudo apt install tmux";
inline constexpr const char* accessibilityRationale = "Lets Kestrix press keys and move the pointer on your computer.";
// Empty: there is no settings pane to open.
inline constexpr const char* privacySettingsURLPrefix = "";

}  // namespace kx::PlatformText
