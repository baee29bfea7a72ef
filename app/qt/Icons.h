#pragma once

#include <QIcon>
#include <string>

namespace kx::Icons {

// The tray's icon: radio waves around a dot when ready, a warning triangle otherwise; with a dot
// in the top-right corner when an update is on offer.
QIcon tray(bool ready, bool badged);
// The theme's icon of that freedesktop name, else a drawn phone.
QIcon device(const std::string& freedesktopName);
// The application's own icon (radio waves on the ground colour).
QIcon application();

}  // namespace kx::Icons
