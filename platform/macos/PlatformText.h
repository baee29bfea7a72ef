#pragma once

// The macOS build's wording of the texts in agent/support/PlatformText.h.
namespace kx::PlatformText {

inline constexpr const char* confirmToRun = "Confirm on your Mac to run this";
inline constexpr const char* tmuxMissing =
    "Terminal sessions need tmux, which isn't installed on this Mac. Install it, then quit and reopen Kestrix.";
inline constexpr const char* tmuxInstallCommand = "brew install tmux";
inline constexpr const char* accessibilityRationale = "Lets Kestrix press keys and move the pointer on your Mac.";
inline constexpr const char* audioMissing = "Volume control needs an output device on this Mac.";
inline constexpr const char* audioInstallCommand = "";
inline constexpr const char* mediaMissing = "Media controls are not available on this Mac.";
inline constexpr const char* brightnessMissing = "This Mac has no display brightness that Kestrix can change.";
inline constexpr const char* powerMissing = "Lock and sleep are not available on this Mac.";
inline constexpr const char* screenLockUnavailable = "Screen lock is not available on this Mac";
// Followed by the pane's anchor, e.g. "Privacy_Accessibility".
inline constexpr const char* privacySettingsURLPrefix = "x-apple.systempreferences:com.apple.preference.security?";
inline constexpr const char* clipboardUnreachable = "The clipboard can't be reached on this Mac.";
inline constexpr const char* fileSelectionUnsupported =
    "The Finder selection can't be read on this Mac. Revealing and opening files works.";
inline constexpr const char* browserTabsUnsupported =
    "Browser tabs can't be controlled on this Mac. Opening links in the browser works.";

// The desktop app's wording.
inline constexpr const char* thisComputer = "This Mac";
inline constexpr const char* setUpTitle = "Set up this Mac";
inline constexpr const char* readyTitle = "This Mac is ready";
inline constexpr const char* readyNote = "Open Kestrix on your phone and scan the pairing code from the menu bar.";
inline constexpr const char* checkingTitle = "Checking your Mac";
inline constexpr const char* openSettingsButton = "Open System Settings";
inline constexpr const char* relaunchNote =
    "macOS only applies this to a freshly started app. Restart Kestrix to finish.";
inline constexpr const char* loginItemApproval = "Allow it in System Settings \u203a General \u203a Login Items.";
inline constexpr const char* accessibilityNeedsX11 = "";
inline constexpr const char* accessibilityHelp =
    "macOS ties the permission to this exact copy of the app. If Kestrix was updated, the old entry no longer matches. "
    "Select Kestrix in the list, remove it with \u2212, then add it again. Or reset it from a terminal:";
inline constexpr const char* accessibilityHelpCommand = "tccutil reset Accessibility com.kestrix.agent";
// macOS applies a privacy permission only to a process started after it was granted.
inline constexpr bool grantTakesEffectAfterRelaunch = true;

// Self-update texts that send the user to the download page or elsewhere.
inline constexpr const char* downloadPageOpen = "The download page is open on the Mac";
inline constexpr const char* downloadPageNowOpen = "use the download page now open on the Mac";
inline constexpr const char* permanentFolder = "Applications";
inline constexpr const char* packageManagerUpdate =
    "Kestrix was installed with Homebrew, so it cannot replace itself: update it with brew upgrade.";

}  // namespace kx::PlatformText
