#pragma once

#include <string>

namespace kx {

// Asks the desktop to show a web page (xdg-open) without waiting for it: the opener runs
// detached in a session of its own with no inherited descriptors, and is reaped in the
// background. Failures are logged, never thrown.
void openInBrowser(const std::string& url);

}  // namespace kx
