#include <gtest/gtest.h>

#include <cstdlib>

#include "agent/system/NowPlayingController.h"
#include "agent/system/SystemController.h"
#include "platform/linux/system/MprisPlayers.h"
#include "protocol/WireError.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/Subprocess.h"

// Players on a session bus of the test's own: none at first, then an mpv that comes and goes.

using namespace kx;
using namespace kx::testing;
using namespace std::chrono_literals;

using MprisOnPrivateBus = PrivateBusTest;

TEST_F(MprisOnPrivateBus, PlayersAreTrackedAsTheyComeAndGoAndNoPlayerMeansAnEmptyAnswer) {
    auto players = std::make_shared<MprisPlayers>(busOpenerAt(bus.address()));
    EXPECT_TRUE(players->available());
    EXPECT_TRUE(players->players().empty());
    NowPlayingController nowPlaying(players);
    EXPECT_EQ(nowPlaying.currentJSON(), (JSONObject{{"playing", false}, {"hasTrack", false}}));
    SystemController system({nullptr, players, nullptr, nullptr}, nullptr);
    try {
        system.media("playpause");
        ADD_FAILURE() << "a media key without a player was answered as done";
    } catch (const WireError& error) {
        EXPECT_EQ(error, WireError(ErrorCode::targetNotFound, "No media player is running"));
    }

    const char* tone = std::getenv("KX_TONE");
    if (!tone) GTEST_SKIP() << "no tagged tone: scripts/lib/services.sh makes one";
    auto mpv = std::make_unique<Subprocess>(
        std::vector<std::string>{"mpv", "--no-config", "--script=/usr/lib/mpv-mpris/mpris.so", "--ao=null", "--vo=null",
                                 "--no-terminal", "--pause", tone},
        Subprocess::Options{.environment = std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + bus.address()},
                            .quiet = true});
    // The player is on the bus before it has read the file's tags.
    std::optional<NowPlayingController::Track> track;
    ASSERT_TRUE(e2e::eventually(
        [&] {
            track = nowPlaying.current();
            return track && track->title == "Kestrix Tone";
        },
        10s));
    EXPECT_EQ(players->players().size(), 1u);
    EXPECT_EQ(*track, (NowPlayingController::Track{"mpv", "Kestrix Tone", "Test Artist", "Test Album", false,
                                                   track->position, track->duration}));
    system.media("playpause");
    EXPECT_TRUE(e2e::eventually([&] { return nowPlaying.current().value_or(NowPlayingController::Track{}).playing; }));

    mpv.reset();
    EXPECT_TRUE(e2e::eventually([&] { return players->players().empty(); }));
}
