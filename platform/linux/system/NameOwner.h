#pragma once

#include <string>

#include <sdbus-c++/IConnection.h>

namespace kx {

// Whether some program owns the bus name now; false when the bus does not answer in time.
bool nameHasOwner(sdbus::IConnection& bus, const std::string& name);

}  // namespace kx
