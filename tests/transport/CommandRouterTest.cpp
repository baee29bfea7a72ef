#include <gtest/gtest.h>

#include <net/if.h>

#include <tuple>

#include "agent/transport/CommandRouter.h"
#include "agent/transport/LocalAddress.h"

using namespace kx;

namespace {
const RequestContext kAuthed{"dev", true};
const RequestContext kPairing{std::nullopt, false};

JSONObject echo(const JSONObject& p, const RequestContext&) {
    return p;
}
}  // namespace

TEST(CommandRouter, DispatchTable) {
    CommandRouter router;
    router.registerMethod("agent.info", std::nullopt, true, echo);
    router.registerMethod("boom", std::nullopt, true,
                          [](auto&, auto&) -> JSONObject { throw std::runtime_error("x"); });
    const JSONObject permission{{"permission", "accessibility"}};
    router.registerMethod("denied", std::nullopt, true, [&](auto&, auto&) -> JSONObject {
        throw WireError(ErrorCode::permissionDenied, "No", permission);
    });
    // Re-registered, the last handler wins and the method stays open before authentication.
    router.registerMethod("agent.ping", std::nullopt, false, [](auto&, auto&) { return JSONObject{{"n", 1}}; });
    router.registerMethod("agent.ping", std::nullopt, true, [](auto&, auto&) { return JSONObject{{"n", 2}}; });

    Envelope noId, noMethod;
    noId.m = "agent.info";
    noMethod.id = "1";
    const WireError malformed(ErrorCode::invalidParams, "Malformed request");
    const std::vector<std::tuple<Envelope, RequestContext, Envelope>> cases = {
        {noId, kAuthed, Envelope::failure("?", malformed)},
        {noMethod, kAuthed, Envelope::failure("1", malformed)},
        // Unknown names are told apart from protected ones even before authentication.
        {Envelope::request("2", "nope"), kPairing,
         Envelope::failure("2", {ErrorCode::unknownMethod, "No such method"})},
        {Envelope::request("3", "agent.info"), kPairing,
         Envelope::failure("3", {ErrorCode::unauthorized, "Not authenticated"})},
        {Envelope::request("4", "boom"), kAuthed, Envelope::failure("4", {ErrorCode::internal, "Internal error"})},
        {Envelope::request("5", "denied"), kAuthed,
         Envelope::failure("5", {ErrorCode::permissionDenied, "No", permission})},
        // Absent params reach the handler as an empty object.
        {Envelope::request("6", "agent.info"), kAuthed, Envelope::success("6", JSONObject{})},
        {Envelope::request("7", "agent.ping"), kPairing, Envelope::success("7", JSONObject{{"n", 2}})},
    };
    for (const auto& [request, context, expected] : cases) EXPECT_EQ(router.dispatch(request, context), expected);
}

// A fast path answers only what its handler would: never before authentication, and a decline
// leaves the request to the handler.
TEST(CommandRouter, FastPathsAnswerOrDeclineLikeTheirHandlers) {
    CommandRouter router;
    router.registerMethod("quick", std::nullopt, true, echo);
    router.addFastPath("quick", [](const JSONObject& p, auto&) -> std::optional<JSONObject> {
        if (p.contains("boom")) throw WireError::invalidParams("Bad");
        if (p.contains("decline")) return std::nullopt;
        return JSONObject{{"fast", true}};
    });
    router.registerMethod("plain", std::nullopt, true, echo);
    router.addFastPath("unknown", [](auto&, auto&) { return std::optional(JSONObject{}); });
    router.registerMethod("renewed", std::nullopt, true, echo);
    router.addFastPath("renewed", [](auto&, auto&) { return std::optional(JSONObject{}); });
    router.registerMethod("renewed", std::nullopt, true, echo);  // registering again removes it

    auto request = [](const char* method, JSONObject params) {
        Envelope e = Envelope::request("1", method);
        e.p = std::move(params);
        return e;
    };
    const std::vector<std::tuple<Envelope, RequestContext, std::optional<Envelope>>> cases = {
        {request("quick", {}), kAuthed, Envelope::success("1", JSONObject{{"fast", true}})},
        {request("quick", {}), kPairing, std::nullopt},
        {request("quick", {{"decline", true}}), kAuthed, std::nullopt},
        {request("quick", {{"boom", true}}), kAuthed, Envelope::failure("1", WireError::invalidParams("Bad"))},
        {request("plain", {}), kAuthed, std::nullopt},
        {request("unknown", {}), kAuthed, std::nullopt},
        {request("renewed", {}), kAuthed, std::nullopt},
    };
    for (const auto& [envelope, context, expected] : cases)
        EXPECT_EQ(router.tryFastPath(envelope, context), expected) << *envelope.m;
}

TEST(CommandRouter, HintsAreReportedOnlyForMissingCapabilities) {
    CommandRouter router;
    EXPECT_FALSE(router.unavailableWire().has_value());
    router.registerHint(Capability::sessionTmux, {"Install tmux", "sudo apt install tmux"});
    router.registerMethod("input.key", Capability::inputKey, true, echo);
    router.registerHint(Capability::inputKey, {"Grant it", std::nullopt});
    router.registerMethod("agent.update.status", Capability::agentUpdate, true, echo);
    auto wire = router.unavailableWire();
    ASSERT_TRUE(wire.has_value());
    EXPECT_EQ(*wire, JSONValue(JSONObject{{"session.tmux", JSONObject{{"message", "Install tmux"},
                                                                      {"command", "sudo apt install tmux"}}}}));
    EXPECT_EQ(router.capabilityStrings(), (JSONArray{"agent.update", "input.key"}));
    router.registerMethod("session.list", Capability::sessionTmux, true, echo);
    EXPECT_FALSE(router.unavailableWire().has_value());
}

TEST(CommandRouter, LanesFollowTheMethodsTarget) {
    CommandRouter router;
    router.registerMethod("input.key", std::nullopt, true, echo, OrderedTarget{"input", std::nullopt});
    router.registerMethod("session.text", std::nullopt, true, echo, OrderedTarget{"session", "id"});
    router.registerMethod("agent.info", std::nullopt, true, echo);
    auto request = [](const char* method, JSONObject params) {
        Envelope e = Envelope::request("1", method);
        e.p = std::move(params);
        return e;
    };
    EXPECT_EQ(router.lane(request("input.key", {})), "input");
    EXPECT_EQ(router.lane(request("session.text", {{"id", "kx-a"}})),
              "session\x1f"
              "kx-a");
    EXPECT_NE(router.lane(request("session.text", {{"id", "kx-a"}})),
              router.lane(request("session.text", {{"id", "kx-b"}})));
    EXPECT_EQ(router.lane(request("session.text", {{"id", 3.0}})), "session");
    EXPECT_EQ(router.lane(request("agent.info", {})), std::nullopt);
    EXPECT_EQ(router.lane(request("nope", {})), std::nullopt);

    // Observers hear of a closed session in registration order, even after one of them throws.
    std::vector<std::string> heard;
    router.addConnectionClosedObserver([&](std::uint64_t id) { heard.push_back("a" + std::to_string(id)); });
    router.addConnectionClosedObserver([](std::uint64_t) { throw std::runtime_error("x"); });
    router.addConnectionClosedObserver([&](std::uint64_t id) { heard.push_back("b" + std::to_string(id)); });
    router.connectionClosed(7);
    EXPECT_EQ(heard, (std::vector<std::string>{"a7", "b7"}));
}

TEST(LocalAddress, PrefersTheFirstWiredOrWirelessInterfaceByNameAndRefusesTheRest) {
    constexpr unsigned up = IFF_UP | IFF_RUNNING;
    const std::vector<std::pair<std::vector<LocalAddress::InterfaceAddress>, std::optional<std::string>>> cases = {
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
