#pragma once

#include <string>

#include "agent/update/UpdateFailure.h"

namespace kx {

// A failure that sends the user to the download page: `problem` (one or more sentences ending
// with a full stop) followed by "The download page is open on the computer", or, for when the
// page could not be shown, by where the page is.
UpdateFailure downloadPageFailure(const std::string& problem, const std::string& pageURL);

// "Kestrix is running from a temporary location. Move it to …, or use the download page now open
// on the computer", or the same naming the page's address.
UpdateFailure temporaryLocationFailure(const std::string& pageURL);

}  // namespace kx
