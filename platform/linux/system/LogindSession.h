#pragma once

#include <optional>
#include <string>

#include <sdbus-c++/IConnection.h>

#include "platform/linux/power/LogindNames.h"

namespace kx::logind {

// The object path of the login session this process belongs to, found by its process id; absent
// when it belongs to none (started outside a desktop session) or logind does not answer.
std::optional<std::string> ownSessionPath(sdbus::IConnection& bus);

}  // namespace kx::logind
