#include <gtest/gtest.h>

#include "client/DevicePairing.h"
#include "daemon/ControlClient.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/support/ScopedVariable.h"

using namespace kx;

// A host the phone could not use is refused before a code is issued: the code issued before stays
// the one that pairs, and the agent keeps running.
TEST(PairHost, OnlyHostNamesAndAddressesGetACode) {
    e2e::AgentProcess agent;
    kx::testing::ScopedVariable runtime{"XDG_RUNTIME_DIR", agent.runtimeFolder().string()};
    for (const std::string host : {"kestrix-host.local", "192.168.1.20", "fe80::1", "localhost."})
        EXPECT_TRUE(ControlClient::send(agent.dataFolder(), {"pair", host}).ok) << host;

    PairingPayload issued = agent.pairingCode();
    for (const std::string& host : {std::string("a\nb"), std::string("a\0b", 3), std::string(3000, 'a'),
                                    std::string("host\xff"), std::string("-bad"), std::string("a..b")}) {
        ControlReply reply = ControlClient::send(agent.dataFolder(), {"pair", host});
        EXPECT_FALSE(reply.ok) << "a code for a host of " << host.size() << " bytes";
        EXPECT_NE(reply.error.find("cannot pair: the host"), std::string::npos) << reply.error;
    }
    auto typed = agent.control({"pair", "two words"});
    EXPECT_EQ(typed.exitCode, 1);
    EXPECT_NE(typed.standardError.find("cannot pair: the host"), std::string::npos) << typed.standardError;

    EXPECT_NO_THROW(pairWithCode(issued, {"test phone", "kestrix-e2e", "test"}));
}
