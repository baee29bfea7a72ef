#pragma once

#include <cstddef>

#include "agent/installed/InstalledAppSource.h"

namespace kx {

// The desktop entries in $XDG_DATA_HOME/applications and each $XDG_DATA_DIRS/applications folder,
// in that order: an entry's id is its path below the folder ("kde/a.desktop" is "kde-a"), and the
// first file of an id wins. Each file is read through GIO, so GIO's rules decide what is shown:
// Hidden, NoDisplay, OnlyShowIn/NotShowIn, TryExec, a missing Exec program, names in the user's
// language.
//
// The folders are read anew on every call. (GIO's own g_app_info_get_all keeps a list of the files
// that its folder watch updates a moment after a change, so a scan right after an install could
// miss the new entry.) GLib reads $XDG_DATA_DIRS once per process.
class GioInstalledAppSource : public InstalledAppSource {
public:
    // Bounds on what one scan reads: folder depth below each applications folder, and files.
    static constexpr int maxDepth = 8;
    static constexpr std::size_t maxFiles = 20000;

    std::vector<InstalledApp> entries() override;
};

}  // namespace kx
