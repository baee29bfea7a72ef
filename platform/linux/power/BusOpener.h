#pragma once

#include <functional>
#include <memory>

#include <sdbus-c++/IConnection.h>

namespace kx {

// Opens a D-Bus connection; throws sdbus::Error when the bus cannot be reached. Injected so that
// tests can point a component at a private bus of their own.
using BusOpener = std::function<std::unique_ptr<sdbus::IConnection>()>;

BusOpener systemBusOpener();
BusOpener sessionBusOpener();
// A bus at an explicit address such as "unix:path=/run/user/1000/bus". The library leaks a
// little memory when that bus cannot be reached, so this is for buses known to exist.
BusOpener busOpenerAt(std::string address);

}  // namespace kx
