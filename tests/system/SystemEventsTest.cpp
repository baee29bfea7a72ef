#include <gtest/gtest.h>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "agent/service/AgentService.h"
#include "protocol/Base64URL.h"
#include "tests/e2e/support/RawPeer.h"
#include "tests/system/SystemDoubles.h"

using namespace kx;
using namespace kx::test;

namespace {

// The agent service on the in-memory ports, listening, with one paired phone connected.
struct AgentWithPhone {
    AgentWithPhone() {
        AgentServiceOptions options;
        options.identityStore = std::make_shared<MemoryIdentityStore>();
        options.hostName = "box";
        options.tmuxPath = [] { return std::optional<std::string>(); };
        options.systemPorts.audio = audio;
        options.frontmost = frontmost;
        service = AgentService::create(std::move(options));
        PairedDevice device{"d_phone",    "phone", base64URLEncode(key.publicKey), std::chrono::system_clock::now(),
                            std::nullopt, "test"};
        service->registry().registerDevice(device);
        service->start(std::nullopt, false);
        phone = std::make_unique<e2e::RawPeer>(*service->listeningPort());
        EXPECT_TRUE(phone->handshake("d_phone", key).has_value());
    }
    std::optional<Envelope> nextEvent() { return phone->readEnvelope(std::chrono::milliseconds(300)); }

    std::shared_ptr<MemoryAudio> audio = std::make_shared<MemoryAudio>();
    std::shared_ptr<MemoryFrontmost> frontmost = std::make_shared<MemoryFrontmost>();
    SigningKey key = SigningKey::generate();
    std::shared_ptr<AgentService> service;
    std::unique_ptr<e2e::RawPeer> phone;
};

}  // namespace

TEST(SystemEvents, AudioAndFrontmostChangesReachThePhoneWithWhatCouldBeRead) {
    AgentWithPhone agent;
    ASSERT_TRUE(agent.audio->onChange && agent.frontmost->onChange) << "the service observes once it starts";

    agent.audio->reading = {true, 0.75f, true};
    agent.audio->onChange();
    auto state = agent.nextEvent();
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->m, "system.state");
    EXPECT_EQ(state->p, (JSONObject{{"volume", 0.75}, {"muted", true}}));

    // Without an output nothing was read, so nothing is pushed.
    agent.audio->reading = {};
    agent.audio->onChange();
    EXPECT_FALSE(agent.nextEvent().has_value());

    agent.frontmost->activate(FrontmostApp{"org.example.Terminal", "Terminal"});
    auto frontmost = agent.nextEvent();
    ASSERT_TRUE(frontmost.has_value());
    EXPECT_EQ(frontmost->m, "system.frontmost");
    EXPECT_EQ(frontmost->p, (JSONObject{{"bundleId", "org.example.Terminal"}, {"name", "Terminal"}}));
    agent.frontmost->activate(std::nullopt);
    EXPECT_FALSE(agent.nextEvent().has_value());
}
