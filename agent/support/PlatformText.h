#pragma once

#include <array>

// Every text a person may read that names the computer, its settings or how to install a tool.
// Each platform words them in its own header: the macOS build keeps the Mac wording, Linux speaks
// of "this computer".
#if defined(__APPLE__)
#include "platform/macos/PlatformText.h"
#else
#include "platform/linux/PlatformText.h"
#endif

namespace kx::PlatformText {

inline constexpr std::array all{confirmToRun,
                                tmuxMissing,
                                tmuxInstallCommand,
                                accessibilityRationale,
                                privacySettingsURLPrefix,
                                audioMissing,
                                audioInstallCommand,
                                mediaMissing,
                                brightnessMissing,
                                powerMissing,
                                screenLockUnavailable,
                                clipboardUnreachable,
                                fileSelectionUnsupported,
                                browserTabsUnsupported,
                                thisComputer,
                                setUpTitle,
                                readyTitle,
                                readyNote,
                                checkingTitle,
                                openSettingsButton,
                                relaunchNote,
                                loginItemApproval,
                                accessibilityNeedsX11,
                                accessibilityHelp,
                                accessibilityHelpCommand,
                                downloadPageOpen,
                                downloadPageNowOpen,
                                permanentFolder,
                                packageManagerUpdate};

}  // namespace kx::PlatformText
