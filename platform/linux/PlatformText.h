#pragma once

// The Linux build's wording of the texts in agent/support/PlatformText.h: the computer, not a Mac.
namespace kx::PlatformText {

inline constexpr const char* confirmToRun = "Confirm on your computer to run this";
inline constexpr const char* tmuxMissing =
    "Terminal sessions need tmux, which isn't installed on this computer. Install it, then restart Kestrix.";
inline constexpr const char* tmuxInstallCommand = "sudo apt install tmux";
inline constexpr const char* accessibilityRationale = "Lets Kestrix press keys and move the pointer on your computer.";
// Setup hints of the system family, and its refusal of a lock it cannot do.
inline constexpr const char* audioMissing =
    "Volume control needs a sound server (PipeWire or PulseAudio), which isn't running on this computer. Start it, "
    "then restart Kestrix.";
inline constexpr const char* audioInstallCommand = "sudo apt install pipewire-pulse";
inline constexpr const char* mediaMissing =
    "Media controls need the desktop session's message bus, which Kestrix can't reach on this computer. Start Kestrix "
    "from your desktop session.";
inline constexpr const char* brightnessMissing = "This computer has no display brightness that Kestrix can change.";
inline constexpr const char* powerMissing =
    "Lock and sleep need logind or a screen saver, and neither answers on this computer.";
inline constexpr const char* screenLockUnavailable = "Screen lock is not available on this computer";
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
