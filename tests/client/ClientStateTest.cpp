#include <gtest/gtest.h>

#include <sys/stat.h>

#include "agent/support/AtomicFile.h"
#include "client/ClientError.h"
#include "client/ClientState.h"
#include "client/DevicePairing.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

ClientState sample() {
    ClientState state{
        "192.168.1.20", 52345, "cojfajZbSv_0z0iIcffJbHK0c0TtGIh0eJBsrPuh8vY", "studio", "d_AAECAwQFBgcICQoLDA0ODw", {}};
    for (std::size_t i = 0; i < state.deviceKey.size(); ++i) state.deviceKey[i] = static_cast<std::uint8_t>(i * 7);
    return state;
}

}  // namespace

TEST(ClientState, SavesPrivatelyAndLoadsTheSameState) {
    kx::testing::TempFolder folder("client-state");
    auto path = folder / "nested/kxctl.json";
    sample().save(path);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(ClientState::load(path), sample());

    auto replaced = sample();
    replaced.port = 1;
    replaced.save(path);
    EXPECT_EQ(ClientState::load(path).port, 1);
}

TEST(ClientState, RefusesSharedOrMalformedFiles) {
    kx::testing::TempFolder folder("client-state");
    auto path = folder / "kxctl.json";
    sample().save(path);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    try {
        ClientState::load(path);
        ADD_FAILURE() << "a state file others can read was loaded";
    } catch (const ClientError& error) {
        EXPECT_NE(std::string(error.what()).find("chmod 600"), std::string::npos) << error.what();
    }

    const char* broken[] = {
        "not json",
        R"({"host":"h","port":70000,"agentFingerprint":"f","agentName":"n","deviceId":"d","deviceKey":"AAAA"})",
        R"({"host":"h","port":1,"agentFingerprint":"f","agentName":"n","deviceId":"d","deviceKey":"AAAA"})",
        R"({"port":1,"agentFingerprint":"f","agentName":"n","deviceId":"d","deviceKey":"AAAA"})",
    };
    for (const char* text : broken) {
        SCOPED_TRACE(text);
        writeFileAtomically(path, text, 0600);
        EXPECT_THROW(ClientState::load(path), StateFileError);
    }
}

TEST(PairingCode, AcceptsTheAgentsTextAndRejectsUnusableCodes) {
    // The agent's text with one field replaced.
    auto codeWith = [](const std::string& field, const std::string& value) {
        JSONObject code{{"fp", "cojfajZbSv_0z0iIcffJbHK0c0TtGIh0eJBsrPuh8vY"},
                        {"host", "192.168.1.20"},
                        {"name", "studio"},
                        {"port", 52345},
                        {"token", "9UrqOy01a1gMzALayo-Zdi6V11XrlMJP"},
                        {"v", 1}};
        if (!field.empty()) code[field] = JSONValue::fromJSONText(value);
        return JSONValue(code).toJSONText();
    };
    auto code = parsePairingCode(codeWith("", ""));
    EXPECT_EQ(code.host, "192.168.1.20");
    EXPECT_EQ(code.port, 52345);
    EXPECT_EQ(code.token, "9UrqOy01a1gMzALayo-Zdi6V11XrlMJP");

    EXPECT_THROW(parsePairingCode("fp=x"), InvalidPairingCode);
    for (auto [field, value] : {std::pair{"v", "2"},
                                {"port", "0"},
                                {"fp", "\"short\""},
                                {"fp", "\"cojfajZbSv_0z0iIcffJbHK0c0TtGIh0eJBsrPuh8v!\""},
                                {"host", "\"\""}}) {
        SCOPED_TRACE(std::string(field) + "=" + value);
        EXPECT_THROW(parsePairingCode(codeWith(field, value)), InvalidPairingCode);
    }
}
