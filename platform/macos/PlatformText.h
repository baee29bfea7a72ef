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
// Self-update texts that send the user to the download page or elsewhere.
inline constexpr const char* downloadPageOpen = "The download page is open on the Mac";
inline constexpr const char* downloadPageNowOpen = "use the download page now open on the Mac";
inline constexpr const char* permanentFolder = "Applications";
inline constexpr const char* packageManagerUpdate =
    "Kestrix was installed with Homebrew, so it cannot replace itself: update it with brew upgrade.";

}  // namespace kx::PlatformText
