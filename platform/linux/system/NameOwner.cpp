#include "platform/linux/system/NameOwner.h"

#include <chrono>

#include <sdbus-c++/sdbus-c++.h>

namespace kx {

namespace {
constexpr auto kCallTimeout = std::chrono::seconds(2);
}  // namespace

bool nameHasOwner(sdbus::IConnection& bus, const std::string& name) {
    try {
        bool owned = false;
        sdbus::createProxy(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus")
            ->callMethod("NameHasOwner")
            .onInterface("org.freedesktop.DBus")
            .withTimeout(kCallTimeout)
            .withArguments(name)
            .storeResultsTo(owned);
        return owned;
    } catch (const sdbus::Error&) {
        return false;
    }
}

}  // namespace kx
