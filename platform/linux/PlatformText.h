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

// The desktop app's wording.
inline constexpr const char* thisComputer = "This computer";
inline constexpr const char* setUpTitle = "Set up this computer";
inline constexpr const char* readyTitle = "This computer is ready";
inline constexpr const char* readyNote =
    "Open Kestrix on your phone and scan the pairing code from the Kestrix icon in the tray.";
inline constexpr const char* checkingTitle = "Checking your computer";
// Empty: there is no settings pane, so no button opens one.
inline constexpr const char* openSettingsButton = "";
inline constexpr const char* relaunchNote = "Restart Kestrix to finish.";
// Empty: an autostart entry needs nobody's approval.
inline constexpr const char* loginItemApproval = "";
// Shown instead of the usual rationale when only a Wayland display is reachable.
inline constexpr const char* accessibilityNeedsX11 =
    "Kestrix presses keys and moves the pointer through X11: for now input needs an X11 session. Log out and "
    "choose an X11 (Xorg) session to use it.";
// The help under the Accessibility step, and a command that helps (empty: none).
inline constexpr const char* accessibilityHelp =
    "Kestrix reaches the X display named by DISPLAY, which needs the XTEST extension. Start Kestrix from your desktop "
    "session, or set DISPLAY before starting it.";
inline constexpr const char* accessibilityHelpCommand = "";
// Input through XTEST works as soon as the display is reachable: nothing waits for a fresh process.
inline constexpr bool grantTakesEffectAfterRelaunch = false;

// Self-update texts that send the user to the download page or elsewhere.
inline constexpr const char* downloadPageOpen = "The download page is open on the computer";
inline constexpr const char* downloadPageNowOpen = "use the download page now open on the computer";
inline constexpr const char* permanentFolder = "a folder in your home folder";
inline constexpr const char* packageManagerUpdate =
    "Kestrix was installed with the package manager, so it cannot replace itself: update it with "
    "sudo apt update && sudo apt upgrade.";

}  // namespace kx::PlatformText
