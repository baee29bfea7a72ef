#include "platform/linux/power/BusOpener.h"

namespace kx {

BusOpener systemBusOpener() {
    return [] { return sdbus::createSystemBusConnection(); };
}

BusOpener sessionBusOpener() {
    return [] { return sdbus::createSessionBusConnection(); };
}

BusOpener busOpenerAt(std::string address) {
    return [address = std::move(address)] { return sdbus::createSessionBusConnectionWithAddress(address); };
}

}  // namespace kx
