#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <variant>

#include "agent/apps/FrontmostSource.h"
#include "agent/support/PlatformText.h"
#include "agent/system/SystemMethods.h"
#include "agent/system/SystemPorts.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/support/RouterCall.h"

using namespace kx;

namespace {

// In-memory ports that answer as told and record what they were asked.
struct MemoryAudio : AudioOutput {
    bool works = true;
    AudioReading reading{true, 0.5f, false};
    AudioWrite writes = AudioWrite::done;
    std::vector<float> levels;
    std::vector<bool> mutes;
    std::function<void()> onChange;

    bool available() override { return works; }
    AudioReading read() override { return reading; }
    AudioWrite setVolume(float level) override { return levels.push_back(level), writes; }
    AudioWrite setMuted(bool on) override { return mutes.push_back(on), writes; }
    void startObserving(std::function<void()> callback) override { onChange = std::move(callback); }
    void stopObserving() override { onChange = nullptr; }
};

struct MemoryPlayers : MediaPlayers {
    bool works = true;
    std::vector<MediaPlayer> list;
    std::map<std::string, PlayerTrack> tracks;
    std::vector<std::pair<std::string, MediaCommand>> sent;

    bool available() override { return works; }
    std::vector<MediaPlayer> players() override { return list; }
    std::optional<PlayerTrack> track(const std::string& id) override {
        auto found = tracks.find(id);
        return found == tracks.end() ? std::nullopt : std::optional(found->second);
    }
    bool send(const std::string& id, MediaCommand command) override { return sent.emplace_back(id, command), true; }
};

struct MemoryBrightness : BrightnessControl {
    bool works = true;
    std::vector<bool> steps;  // true: up
    bool available() override { return works; }
    bool step(bool up) override { return steps.push_back(up), works; }
};

struct MemoryPower : PowerTools {
    std::map<Action, PowerResult> results;  // absent: done
    std::vector<Action> performed;
    bool available(Action action) override { return !results.contains(action); }
    PowerResult perform(Action action) override {
        performed.push_back(action);
        return results.contains(action) ? results[action] : PowerResult::done;
    }
};

struct MemoryFrontmost : FrontmostSource {
    std::mutex lock;
    std::optional<FrontmostApp> app;
    std::function<void()> onChange;

    std::optional<FrontmostApp> frontmost() override {
        std::lock_guard guard(lock);
        return app;
    }
    void startObserving(std::function<void()> callback) override { onChange = std::move(callback); }
    void stopObserving() override { onChange = nullptr; }
    void activate(std::optional<FrontmostApp> next) {
        {
            std::lock_guard guard(lock);
            app = std::move(next);
        }
        if (onChange) onChange();
    }
};

using Action = PowerTools::Action;

struct Ports {
    std::shared_ptr<MemoryAudio> audio = std::make_shared<MemoryAudio>();
    std::shared_ptr<MemoryPlayers> players = std::make_shared<MemoryPlayers>();
    std::shared_ptr<MemoryBrightness> brightness = std::make_shared<MemoryBrightness>();
    std::shared_ptr<MemoryPower> power = std::make_shared<MemoryPower>();
    std::shared_ptr<MemoryFrontmost> frontmost = std::make_shared<MemoryFrontmost>();

    // Everything the ports were asked to change, in one line.
    std::string seen() const {
        std::string text;
        for (float level : audio->levels) text += "volume " + std::to_string(level) + ";";
        for (bool on : audio->mutes) text += std::string("mute ") + (on ? "on" : "off") + ";";
        for (bool up : brightness->steps) text += std::string("brightness ") + (up ? "up" : "down") + ";";
        for (auto& [id, command] : players->sent) text += "media " + id + " " + std::to_string(int(command)) + ";";
        for (Action action : power->performed) text += "power " + std::to_string(int(action)) + ";";
        return text;
    }
};

struct Registered {
    explicit Registered(Ports& ports, bool withPorts = true) {
        SystemPorts given;
        if (withPorts) given = {ports.audio, ports.players, ports.brightness, ports.power};
        system = std::make_shared<SystemController>(given, withPorts ? ports.frontmost : nullptr);
        registerSystemMethods(router, system, std::make_shared<NowPlayingController>(given.players));
    }
    Envelope call(const std::string& method, JSONObject params = {}) {
        return kx::testing::call(router, method, std::move(params));
    }
    CommandRouter router;
    std::shared_ptr<SystemController> system;
};

MediaPlayer player(std::string id, PlaybackStatus status, std::uint64_t changed) {
    return {id, id + " player", status, changed};
}

WireError invalid(const char* text) {
    return WireError::invalidParams(text);
}

struct Row {
    std::string method;
    JSONObject params;
    std::function<void(Ports&)> given;
    std::variant<JSONObject, WireError> outcome;
    std::string seen;
};

}  // namespace

TEST(SystemMethods, AnswerAsTheRulesSayAndAskThePortsForExactlyTheirChange) {
    const WireError noOutput(ErrorCode::targetNotFound, "No output device"),
        noPlayer(ErrorCode::targetNotFound, "No media player is running"),
        notHere(ErrorCode::unsupported, "Not available on this system"),
        lockRefused(ErrorCode::unsupported, PlatformText::screenLockUnavailable),
        volumeRefused(ErrorCode::unsupported, "Device volume is not settable"),
        muteRefused(ErrorCode::unsupported, "Device mute is not settable"),
        powerFailed(ErrorCode::internal, "Could not perform power action");
    auto absent = [](Ports& p) { p.audio->writes = AudioWrite::noOutput; };
    auto refuses = [](Ports& p) { p.audio->writes = AudioWrite::failed; };
    auto dark = [](Ports& p) { p.brightness->works = false; };
    auto twoPlayers = [](Ports& p) {
        p.players->list = {player("a", PlaybackStatus::paused, 9), player("b", PlaybackStatus::playing, 1)};
    };
    auto fails = [](Action action, PowerResult result) { return [=](Ports& p) { p.power->results[action] = result; }; };
    const std::vector<Row> rows = {
        {"system.volume.set", {{"level", 1}}, {}, JSONObject{{"level", 1.0}}, "volume 1.000000;"},
        {"system.volume.set", {{"level", 0.3}}, {}, JSONObject{{"level", 0.30000001192092896}}, "volume 0.300000;"},
        {"system.volume.set", {{"level", 1.0001}}, {}, invalid("level must be 0...1"), ""},
        {"system.volume.set", {{"level", -0.1}}, {}, invalid("level must be 0...1"), ""},
        {"system.volume.set", {{"level", "0.5"}}, {}, invalid("level is required"), ""},
        {"system.volume.set", {{"level", 0.5}}, absent, noOutput, "volume 0.500000;"},
        {"system.volume.set", {{"level", 0.5}}, refuses, volumeRefused, "volume 0.500000;"},
        {"system.volume.mute", {{"on", true}}, {}, JSONObject{{"muted", true}}, "mute on;"},
        {"system.volume.mute", {{"on", 1}}, {}, invalid("on is required"), ""},
        {"system.volume.mute", {{"on", true}}, refuses, muteRefused, "mute on;"},
        {"system.brightness.step", {}, {}, JSONObject{}, "brightness up;"},
        {"system.brightness.step", {{"delta", 10}}, {}, JSONObject{}, "brightness up;"},
        {"system.brightness.step", {{"delta", 0}}, {}, JSONObject{}, "brightness down;"},
        {"system.brightness.step", {{"delta", 0.9}}, {}, JSONObject{}, "brightness down;"},
        {"system.brightness.step", {{"delta", -5}}, {}, JSONObject{}, "brightness down;"},
        {"system.brightness.step", {}, dark, notHere, "brightness up;"},
        // The player playing gets the key, even when another one changed more recently.
        {"system.media", {{"action", "playpause"}}, twoPlayers, JSONObject{}, "media b 0;"},
        {"system.media", {{"action", "prev"}}, twoPlayers, JSONObject{}, "media b 2;"},
        {"system.media", {{"action", "previous"}}, twoPlayers, JSONObject{}, "media b 2;"},
        {"system.media", {{"action", "PlayPause"}}, twoPlayers, invalid("Unknown media action"), ""},
        {"system.media", {}, twoPlayers, invalid("action is required"), ""},
        {"system.media", {{"action", "next"}}, {}, noPlayer, ""},
        {"system.power", {{"action", "lock"}}, {}, JSONObject{}, "power 0;"},
        {"system.power", {{"action", "sleep"}}, {}, JSONObject{}, "power 1;"},
        {"system.power", {{"action", "shutdown"}}, {}, invalid("Unknown power action"), ""},
        {"system.power", {{"action", "lock"}}, fails(Action::lock, PowerResult::failed), lockRefused, "power 0;"},
        {"system.power", {{"action", "sleep"}}, fails(Action::sleep, PowerResult::unavailable), notHere, "power 1;"},
        {"system.power", {{"action", "sleep"}}, fails(Action::sleep, PowerResult::failed), powerFailed, "power 1;"},
    };
    for (const Row& row : rows) {
        Ports ports;
        if (row.given) row.given(ports);
        Registered family(ports);
        Envelope reply = family.call(row.method, row.params);
        std::string label = row.method + " " + JSONValue(row.params).toJSONText();
        if (auto* result = std::get_if<JSONObject>(&row.outcome))
            EXPECT_EQ(reply, Envelope::success("1", *result)) << label;
        else
            EXPECT_EQ(reply, Envelope::failure("1", std::get<WireError>(row.outcome))) << label;
        EXPECT_EQ(ports.seen(), row.seen) << label;
    }
}

TEST(SystemMethods, StateLeavesOutWhatCannotBeRead) {
    struct Case {
        AudioReading reading;
        std::optional<FrontmostApp> frontmost;
        JSONObject expected;
    };
    const JSONObject app{{"bundleId", "org.example.Editor"}, {"name", "Editor \xEF\xBF\xBD"}};
    const std::vector<Case> cases = {
        {{true, 0.25f, true},
         FrontmostApp{"org.example.Editor", "Editor \xFF"},
         {{"volume", 0.25}, {"muted", true}, {"frontmost", app}}},
        // An output whose volume and mute cannot be read still reports that it is not muted.
        {{true, std::nullopt, std::nullopt}, std::nullopt, {{"muted", false}}},
        {{}, FrontmostApp{"org.example.Editor", "Editor \xFF"}, {{"frontmost", app}}},
        {{}, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        Ports ports;
        ports.audio->reading = c.reading;
        ports.frontmost->app = c.frontmost;
        Registered family(ports);
        EXPECT_EQ(family.call("system.state"), Envelope::success("1", c.expected));
    }
}

TEST(SystemMethods, NowPlayingPrefersAPlayingPlayerThenTheMostRecentlyChangedAndSkipsStoppedOnes) {
    using enum PlaybackStatus;
    struct Case {
        std::vector<MediaPlayer> players;  // each has a track in its own state, except "gone"
        JSONValue app;                     // null: no track
    };
    const std::vector<Case> cases = {
        {{player("a", paused, 5), player("b", playing, 1)}, "b player"},
        {{player("a", paused, 1), player("b", paused, 5)}, "b player"},
        {{player("a", paused, 1), player("b", stopped, 5)}, "a player"},
        {{player("gone", playing, 1)}, nullptr},
        {{}, nullptr},
    };
    for (const Case& c : cases) {
        Ports ports;
        ports.players->list = c.players;
        for (const MediaPlayer& p : c.players)
            if (p.id != "gone") ports.players->tracks[p.id] = {"Song", "A, B", "Album", p.status, 12.5, 180};
        auto reply = Registered(ports).call("system.nowplaying");
        if (c.app.isNull())
            EXPECT_EQ(reply, Envelope::success("1", JSONObject{{"playing", false}, {"hasTrack", false}}));
        else
            EXPECT_EQ(reply.p->at("app"), c.app);
    }
}

TEST(SystemMethods, CapabilitiesFollowWhatWorksHereWithAHintForWhatDoesNot) {
    Ports working;
    Registered all(working);
    EXPECT_EQ(all.router.capabilityStrings(),
              (JSONArray{"system.brightness", "system.media", "system.nowplaying", "system.power", "system.volume"}));
    EXPECT_FALSE(all.router.unavailableWire().has_value());

    Ports broken;
    broken.audio->works = false;
    broken.players->works = false;
    broken.brightness->works = false;
    broken.power->results = {{Action::lock, PowerResult::unavailable},
                             {Action::sleep, PowerResult::unavailable},
                             {Action::displaySleep, PowerResult::unavailable}};
    Registered none(broken);
    EXPECT_EQ(none.router.capabilityStrings(), JSONArray{});
    auto hints = none.router.unavailable();
    EXPECT_EQ(hints.size(), 5u);
    EXPECT_EQ(hints.at(Capability::systemVolume),
              (SetupHint{PlatformText::audioMissing, PlatformText::audioInstallCommand}));
    EXPECT_EQ(hints.at(Capability::systemPower).message, PlatformText::powerMissing);
    // The methods stay: each answers for itself.
    EXPECT_EQ(none.call("system.volume.mute", {{"on", true}}), Envelope::success("1", JSONObject{{"muted", true}}));

    // Without ports nothing is offered and nothing is hinted at.
    Registered bare(broken, false);
    EXPECT_EQ(bare.router.capabilityStrings(), JSONArray{});
    EXPECT_FALSE(bare.router.unavailableWire().has_value());
    EXPECT_EQ(bare.call("system.volume.set", {{"level", 0.5}}).e->msg, "Not available on this system");
}

// Audio changes reaching the phone are the end-to-end test's, on a real sound server; here what
// has no real source there: the frontmost application, and a change that could not be read.
TEST(SystemEvents, FrontmostChangesReachThePhoneAndUnreadableOnesDoNot) {
    auto audio = std::make_shared<MemoryAudio>();
    auto frontmost = std::make_shared<MemoryFrontmost>();
    e2e::InProcessAgent agent({.configure = [&](AgentServiceOptions& options) {
        options.systemPorts.audio = audio;
        options.frontmost = frontmost;
    }});
    auto phone = agent.connect(agent.addDevice());
    auto nextEvent = [&] { return phone->readEnvelope(std::chrono::milliseconds(300)); };
    ASSERT_TRUE(audio->onChange && frontmost->onChange) << "the service observes once it starts";

    // Without an output nothing was read, so nothing is pushed.
    audio->reading = {};
    audio->onChange();
    EXPECT_FALSE(nextEvent().has_value());

    frontmost->activate(FrontmostApp{"org.example.Terminal", "Terminal"});
    auto event = nextEvent();
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->m, "system.frontmost");
    EXPECT_EQ(event->p, (JSONObject{{"bundleId", "org.example.Terminal"}, {"name", "Terminal"}}));
    frontmost->activate(std::nullopt);
    EXPECT_FALSE(nextEvent().has_value());
}
