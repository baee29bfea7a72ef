#include <gtest/gtest.h>

#include <net/if.h>

#include "agent/transport/LocalAddress.h"

using namespace kx;
using LocalAddress::InterfaceAddress;

TEST(LocalAddress, PrefersTheFirstWiredOrWirelessInterfaceByNameAndRefusesTheRest) {
    constexpr unsigned up = IFF_UP | IFF_RUNNING;
    const std::vector<std::pair<std::vector<InterfaceAddress>, std::optional<std::string>>> cases = {
        {{{"wlp2s0", up, "192.168.1.30"}, {"en1", up, "10.0.0.2"}, {"en0", up, "10.0.0.1"}, {"en0", up, "10.0.0.9"}},
         "10.0.0.1"},
        {{{"wlan0", up, "192.168.1.30"}}, "192.168.1.30"},
        {{{"eth0", up, "172.16.0.4"}, {"wlan0", up, "192.168.1.30"}}, "172.16.0.4"},
        // Loopback, peer-to-peer, down, empty and virtual interfaces.
        {{{"lo", up | IFF_LOOPBACK, "127.0.0.1"},
          {"en0", up | IFF_LOOPBACK, "127.0.0.2"},
          {"awdl0", up, "169.254.1.1"},
          {"llw0", up, "169.254.1.2"},
          {"en2", IFF_UP, "10.0.0.3"},
          {"en3", up, "0.0.0.0"},
          {"en4", up, ""},
          {"docker0", up, "172.17.0.1"}},
         std::nullopt},
    };
    for (const auto& [addresses, expected] : cases) EXPECT_EQ(LocalAddress::choosePrimaryIPv4(addresses), expected);
}
