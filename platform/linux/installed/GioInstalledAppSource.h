#pragma once

#include "agent/installed/InstalledAppSource.h"

namespace kx {

// The desktop entries GIO finds in $XDG_DATA_HOME/applications and each $XDG_DATA_DIRS/applications
// folder, with GIO's rules: ids from the path below the folder, the first folder winning for an id,
// Hidden, NoDisplay, OnlyShowIn/NotShowIn, TryExec and a missing Exec program leave an entry out,
// names in the user's language.
//
// GLib reads $XDG_DATA_DIRS once per process and notices changed folders through its own watch,
// a moment after the change.
class GioInstalledAppSource : public InstalledAppSource {
public:
    std::vector<InstalledApp> entries() override;
};

}  // namespace kx
