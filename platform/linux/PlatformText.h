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
// Self-update texts that send the user to the download page or elsewhere.
inline constexpr const char* downloadPageOpen = "The download page is open on the computer";
inline constexpr const char* downloadPageNowOpen = "use the download page now open on the computer";
inline constexpr const char* permanentFolder = "a folder in your home folder";
inline constexpr const char* packageManagerUpdate =
    "Kestrix was installed with the package manager, so it cannot replace itself: update it with "
    "sudo apt update && sudo apt upgrade.";

}  // namespace kx::PlatformText
