#pragma once

#include "agent/system/SystemPorts.h"

namespace kx {

// The system family's ports on this Linux desktop: the session's sound server, its MPRIS players,
// the backlight, logind and the X display. Each finds its service at once and keeps going without.
SystemPorts linuxSystemPorts();

}  // namespace kx
