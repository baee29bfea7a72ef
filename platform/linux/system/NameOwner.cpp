#include "platform/linux/system/NameOwner.h"

#include "platform/linux/power/BusMethod.h"

namespace kx {

bool nameHasOwner(sdbus::IConnection& bus, const std::string& name) {
    const BusMethod hasOwner{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner"};
    return askBusMethod<bool>(bus, hasOwner, busCallTimeLimit, name).value_or(false);
}

}  // namespace kx
