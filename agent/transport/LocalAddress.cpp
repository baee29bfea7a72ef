#include "agent/transport/LocalAddress.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <string_view>

namespace kx::LocalAddress {

namespace {
// Wired ("en", "eth") and wireless ("wl") interface names. Apple's peer-to-peer interfaces
// ("awdl", "llw") never match these prefixes.
constexpr std::array<std::string_view, 3> usablePrefixes = {"en", "eth", "wl"};
constexpr std::size_t hostBufferSize = 1025;

bool hasUsableName(std::string_view name) {
    return std::any_of(usablePrefixes.begin(), usablePrefixes.end(),
                       [&](std::string_view prefix) { return name.starts_with(prefix); });
}
}  // namespace

std::optional<std::string> choosePrimaryIPv4(const std::vector<InterfaceAddress>& addresses) {
    constexpr unsigned relevant = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    constexpr unsigned wanted = IFF_UP | IFF_RUNNING;
    std::vector<const InterfaceAddress*> kept;
    for (const auto& address : addresses) {
        if ((address.flags & relevant) != wanted || !hasUsableName(address.interfaceName)) continue;
        if (address.numericHost.empty() || address.numericHost == "0.0.0.0") continue;
        kept.push_back(&address);
    }
    std::stable_sort(kept.begin(), kept.end(), [](auto* a, auto* b) { return a->interfaceName < b->interfaceName; });
    if (kept.empty()) return std::nullopt;
    return kept.front()->numericHost;
}

std::optional<std::string> primaryIPv4() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::vector<InterfaceAddress> addresses;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        std::array<char, hostBufferSize> host{};
        InterfaceAddress address{entry->ifa_name ? entry->ifa_name : "", entry->ifa_flags, {}};
        if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host.data(), host.size(), nullptr, 0, NI_NUMERICHOST) ==
            0)
            address.numericHost = host.data();
        addresses.push_back(std::move(address));
    }
    freeifaddrs(list);
    return choosePrimaryIPv4(addresses);
}

}  // namespace kx::LocalAddress
