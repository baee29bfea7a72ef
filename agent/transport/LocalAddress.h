#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kx {

// Picks the address that the pairing code tells the phone to connect to.
namespace LocalAddress {

struct InterfaceAddress {
    std::string interfaceName;
    unsigned flags = 0;       // IFF_* flags of the interface
    std::string numericHost;  // IPv4 text; empty for other families or when conversion failed
};

// The first usable IPv4 address of the system (see choosePrimaryIPv4), or absent.
std::optional<std::string> primaryIPv4();

// Keeps addresses of interfaces that are up and running and not loopback, whose name starts with
// "en", "eth" or "wl" (wired and wireless), and that are not 0.0.0.0; returns the one whose
// interface name sorts first (enumeration order among equal names).
std::optional<std::string> choosePrimaryIPv4(const std::vector<InterfaceAddress>& addresses);

}  // namespace LocalAddress
}  // namespace kx
