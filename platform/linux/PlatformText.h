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
// Without an X display the agent has no clipboard to read or write.
inline constexpr const char* clipboardUnreachable =
    "The clipboard can't be reached: Kestrix needs to run in the desktop session of this computer.";
// No file manager on this computer tells others what is selected in it.
inline constexpr const char* fileSelectionUnsupported =
    "The file manager's selection can't be read on this computer. Revealing and opening files works.";
// Browsers on this computer offer no interface to list or switch their tabs.
inline constexpr const char* browserTabsUnsupported =
    "Browser tabs can't be controlled on this computer. Opening links in the browser works.";

}  // namespace kx::PlatformText
