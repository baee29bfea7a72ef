#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/linux/system/MprisPlayers.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/Subprocess.h"

// Players on a session bus of the test's own: none at first, then an mpv that comes and goes.

using namespace kx;
using namespace kx::testing;
using namespace std::chrono_literals;

using MprisOnPrivateBus = PrivateBusTest;

TEST_F(MprisOnPrivateBus, PlayersAreTrackedAsTheyComeAndGo) {
    auto players = std::make_shared<MprisPlayers>(busOpenerAt(bus.address()));
    EXPECT_TRUE(players->available());
    EXPECT_TRUE(players->players().empty());

    const char* tone = std::getenv("KX_TONE");
    if (!tone) GTEST_SKIP() << "no tagged tone: scripts/lib/services.sh makes one";
    auto mpv = std::make_unique<Subprocess>(
        std::vector<std::string>{"mpv", "--no-config", "--script=/usr/lib/mpv-mpris/mpris.so", "--ao=null", "--vo=null",
                                 "--no-terminal", "--pause", tone},
        Subprocess::Options{.environment = std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + bus.address()},
                            .quiet = true});
    // mpv names itself on the bus before it has loaded the file and paused: wait for both.
    ASSERT_TRUE(e2e::eventually(
        [&] {
            auto listed = players->players();
            return listed.size() == 1 && listed[0].status == PlaybackStatus::paused;
        },
        10s));
    EXPECT_EQ(players->players()[0].name, "mpv");
    mpv.reset();
    EXPECT_TRUE(e2e::eventually([&] { return players->players().empty(); }));
}
