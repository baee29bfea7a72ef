#pragma once

#include <chrono>
#include <string>

namespace kx {

// How long the opener may take to say whether it showed the page. An opener still running by
// then is taken to be the browser itself (some desktops run it in the foreground): the page shows.
inline constexpr std::chrono::seconds browserOpenWait{5};

// Asks the desktop to show a web page (xdg-open): the opener runs detached in a session of its
// own with no inherited descriptors and is reaped in the background. Returns whether the page is
// showing: false when xdg-open is missing or reports a failure. Failures are logged, never thrown.
bool openInBrowser(const std::string& url);

}  // namespace kx
