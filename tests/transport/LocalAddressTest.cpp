#include <gtest/gtest.h>

#include <net/if.h>

#include "agent/transport/LocalAddress.h"

using namespace kx;
using LocalAddress::InterfaceAddress;

namespace {
constexpr unsigned upRunning = IFF_UP | IFF_RUNNING;
}

TEST(LocalAddress, PrefersTheFirstInterfaceByNameAmongWiredAndWireless) {
    std::vector<InterfaceAddress> addresses{
        {"wlp2s0", upRunning, "192.168.1.30"},
        {"en1", upRunning, "10.0.0.2"},
        {"en0", upRunning, "10.0.0.1"},
        {"en0", upRunning, "10.0.0.9"},
    };
    EXPECT_EQ(LocalAddress::choosePrimaryIPv4(addresses), "10.0.0.1");
    EXPECT_EQ(LocalAddress::choosePrimaryIPv4({{"wlan0", upRunning, "192.168.1.30"}}), "192.168.1.30");
    EXPECT_EQ(
        LocalAddress::choosePrimaryIPv4({{"eth0", upRunning, "172.16.0.4"}, {"wlan0", upRunning, "192.168.1.30"}}),
        "172.16.0.4");
}

TEST(LocalAddress, RefusesLoopbackDownPeerToPeerAndEmptyAddresses) {
    EXPECT_FALSE(LocalAddress::choosePrimaryIPv4({
        {"lo", upRunning | IFF_LOOPBACK, "127.0.0.1"},
        {"en0", upRunning | IFF_LOOPBACK, "127.0.0.2"},
        {"awdl0", upRunning, "169.254.1.1"},
        {"llw0", upRunning, "169.254.1.2"},
        {"en2", IFF_UP, "10.0.0.3"},
        {"en3", upRunning, "0.0.0.0"},
        {"en4", upRunning, ""},
        {"docker0", upRunning, "172.17.0.1"},
    }));
}
