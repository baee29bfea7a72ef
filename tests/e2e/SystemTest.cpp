#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>

#include "agent/support/ChildProcess.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"

// kestrixd on the test desktop's sound server (a null sink) and session bus (mpv playing a tagged
// tone), both started by scripts/lib/services.sh; driven by the client library, pactl and playerctl
// as a person would. kxctl's own calls are KxctlTest's and KxctlAppsTest's.

using namespace kx;
using namespace kx::e2e;
using namespace std::chrono_literals;

namespace {

ChildProcess::Result tool(const std::string& program, const std::vector<std::string>& arguments) {
    return ChildProcess::run(program, arguments, {.timeLimit = 10s});
}

std::string pactl(const std::vector<std::string>& arguments) {
    return tool("/usr/bin/pactl", arguments).standardOutput;
}

std::string playerStatus() {
    return tool("/usr/bin/playerctl", {"-p", "mpv", "status"}).standardOutput;
}

bool soundServerRuns() {
    return std::getenv("PULSE_SERVER") && tool("/usr/bin/pactl", {"info"}).succeeded();
}

bool playerRuns() {
    return has(tool("/usr/bin/playerctl", {"-l"}).standardOutput, "mpv");
}

// Whether a "system.state" event that satisfies `wanted` arrives; the phone's own changes come first.
bool stateArrives(KxClient& phone, const std::function<bool(const JSONObject&)>& wanted) {
    for (auto event = phone.nextEvent(5s); event; event = phone.nextEvent(5s))
        if (event->m == "system.state" && event->p && wanted(*event->p)) return true;
    return false;
}

}  // namespace

TEST(System, VolumeMuteAndTheirEventsGoThroughTheDesktopsSoundServer) {
    if (!soundServerRuns()) GTEST_SKIP() << "no sound server: scripts/lib/services.sh starts one";
    AgentProcess agent;
    auto phone = connectClient(pairClient(agent));
    auto caps = phone->call("agent.info").at("caps").asArray();
    EXPECT_NE(std::find(caps.begin(), caps.end(), JSONValue("system.volume")), caps.end());

    EXPECT_EQ(phone->call("system.volume.set", {{"level", 0.3}}), (JSONObject{{"level", 0.30000001192092896}}));
    EXPECT_TRUE(has(pactl({"get-sink-volume", "@DEFAULT_SINK@"}), " 30% "));
    EXPECT_EQ(phone->call("system.volume.mute", {{"on", true}}), (JSONObject{{"muted", true}}));
    EXPECT_TRUE(has(pactl({"get-sink-mute", "@DEFAULT_SINK@"}), "yes"));

    // Changes made at the computer reach the phone.
    pactl({"set-sink-volume", "@DEFAULT_SINK@", "45%"});
    EXPECT_TRUE(stateArrives(*phone, [](const JSONObject& state) {
        return std::abs(state.at("volume").asNumber() - 0.45) < 0.001 && state.at("muted") == JSONValue(true);
    }));
    pactl({"set-sink-mute", "@DEFAULT_SINK@", "0"});
    EXPECT_TRUE(stateArrives(*phone, [](const JSONObject& state) { return state.at("muted") == JSONValue(false); }));
}

TEST(System, NowPlayingAndMediaKeysReachTheDesktopsPlayer) {
    if (!playerRuns()) GTEST_SKIP() << "no mpv on the session bus: scripts/lib/services.sh starts one";
    AgentProcess agent;
    auto phone = connectClient(pairClient(agent));

    auto track = phone->call("system.nowplaying");
    EXPECT_EQ(track.at("hasTrack"), JSONValue(true));
    EXPECT_EQ(track.at("app"), JSONValue("mpv"));
    EXPECT_EQ(track.at("title"), JSONValue("Kestrix Tone"));
    EXPECT_EQ(track.at("artist"), JSONValue("Test Artist"));
    EXPECT_EQ(track.at("album"), JSONValue("Test Album"));
    EXPECT_NEAR(track.at("duration").asNumber(), 60, 1);

    const std::string before = playerStatus();
    EXPECT_EQ(phone->call("system.media", {{"action", "playpause"}}), JSONObject{});
    EXPECT_TRUE(eventually([&] { return playerStatus() != before; }));
    EXPECT_EQ(phone->call("system.media", {{"action", "playpause"}}), JSONObject{});
    EXPECT_TRUE(eventually([&] { return playerStatus() == before; }));
}
