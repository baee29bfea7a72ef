#include <gtest/gtest.h>

#include "agent/pairing/MemoryIdentityStore.h"
#include "agent/pairing/PairingService.h"
#include "agent/service/AgentService.h"
#include "agent/transport/LocalAddress.h"

using namespace kx;

namespace {

AgentServiceOptions optionsFor(const std::string& hostName) {
    AgentServiceOptions options;
    options.identityStore = std::make_shared<MemoryIdentityStore>();
    options.hostName = hostName;
    options.version = "2.0.1";
    options.platform = "linux";
    options.os = "Debian GNU/Linux 12";
    // Terminal sessions offered whatever this machine has; no test here runs tmux.
    options.tmuxPath = [] { return std::optional<std::string>("/usr/bin/tmux"); };
    return options;
}

const RequestContext authenticated{"d_x", true};

}  // namespace

TEST(AgentService, PairingCodeNamesTheGivenHostOrTheListeningAddressAndPort) {
    auto service = AgentService::create(optionsFor("studio.local"));
    PairingPayload early = service->beginPairing("192.0.2.7");
    EXPECT_EQ(early.host, "192.0.2.7");
    EXPECT_EQ(early.port, 0);
    EXPECT_EQ(early.name, "studio");

    service->start(std::nullopt, false);
    PairingPayload listening = service->beginPairing();
    EXPECT_EQ(listening.port, service->listeningPort());
    EXPECT_NE(listening.port, 0);
    EXPECT_EQ(listening.host, LocalAddress::primaryIPv4().value_or("127.0.0.1"));
}

TEST(AgentService, InfoReportsCapabilitiesAndHintsOnlyWhenSomethingIsMissing) {
    auto service = AgentService::create(optionsFor("box"));
    service->router().registerMethod("input.key", Capability::inputKey, true,
                                     [](auto&, auto&) { return JSONObject{}; });
    auto info = [&] {
        return service->router().dispatch(Envelope::request("1", "agent.info"), authenticated).p.value();
    };
    EXPECT_FALSE(info().contains("unavailable"));
    service->router().registerHint(Capability::appXcode, {"Install Xcode", std::nullopt});
    auto reply = info();
    EXPECT_EQ(reply.at("caps"),
              JSONValue(JSONArray{"agent.update", "commands", "input.key", "session.tmux", "system.shutdown"}));
    EXPECT_EQ(reply.at("unavailable"), *service->router().unavailableWire());
    EXPECT_EQ(reply.at("name"), JSONValue("box"));
}
