#include <gtest/gtest.h>

#include <map>

#include "agent/power/ShutdownMethods.h"
#include "tests/power/PowerDoubles.h"

using namespace kx;
using namespace kx::testing;

namespace {

const RequestContext kPixel{"device-pixel", true};

struct ShutdownMethodsFixture : ::testing::Test {
    std::shared_ptr<RecordingExecutor> executor = std::make_shared<RecordingExecutor>();
    std::shared_ptr<TickGate> gate = TickGate::make();
    std::shared_ptr<ShutdownCountdown> countdown =
        ShutdownCountdown::make(executor, ShutdownCountdown::defaultSeconds, TickGate::sleeper(gate));
    std::map<std::string, std::string> names{{"device-pixel", "Pixel 8"}, {"device-blank", ""}};
    std::vector<std::optional<std::string>> askedFor;
    CommandRouter router;

    void SetUp() override {
        registerShutdownMethods(router, countdown, [this](const std::optional<std::string>& deviceID) {
            askedFor.push_back(deviceID);
            auto found = deviceID ? names.find(*deviceID) : names.end();
            return found == names.end() ? std::nullopt : std::optional(found->second);
        });
    }
    Envelope call(std::optional<JSONObject> params, const RequestContext& context = kPixel) {
        return router.dispatch(Envelope::request("1", "system.shutdown", std::move(params)), context);
    }
};

}  // namespace

TEST_F(ShutdownMethodsFixture, StartsTheCountdownAndAnswersWithItsLength) {
    EXPECT_EQ(call(JSONObject{{"action", "restart"}, {"extra", true}}),
              Envelope::success("1", JSONObject{{"delaySeconds", 30}}));
    EXPECT_EQ(countdown->current(), (ShutdownCountdown::Snapshot{ShutdownAction::restart, "Pixel 8", 30}));
    EXPECT_EQ(askedFor, (std::vector<std::optional<std::string>>{"device-pixel"}));
    EXPECT_TRUE(router.capabilities().contains(Capability::systemShutdown));
}

TEST_F(ShutdownMethodsFixture, SecondRequestIsBusyAndChangesNothing) {
    ASSERT_TRUE(call(JSONObject{{"action", "shutdown"}}).ok.value_or(false));
    gate->release(2);
    while (countdown->current()->remaining != 28) std::this_thread::yield();

    const RequestContext otherPhone{"device-blank", true};
    EXPECT_EQ(call(JSONObject{{"action", "restart"}}, otherPhone),
              Envelope::failure("1", {ErrorCode::busy, "A shutdown is already counting down"}));
    EXPECT_EQ(countdown->current(), (ShutdownCountdown::Snapshot{ShutdownAction::shutdown, "Pixel 8", 28}));
}

TEST_F(ShutdownMethodsFixture, OnlyTheTwoExactActionsAreAccepted) {
    const Envelope invalid = Envelope::failure("1", {ErrorCode::invalidParams, "action must be shutdown or restart"});
    for (const JSONObject& params : {JSONObject{{"action", "Restart"}}, JSONObject{{"action", "reboot"}},
                                     JSONObject{{"action", 1}}, JSONObject{{"action", nullptr}}, JSONObject{}}) {
        EXPECT_EQ(call(params), invalid) << JSONValue(params).toJSONText();
    }
    EXPECT_EQ(call(std::nullopt), invalid);
    EXPECT_FALSE(countdown->current().has_value());
}

TEST_F(ShutdownMethodsFixture, UnknownOrUnnamedDevicesShowAsYourPhone) {
    for (const RequestContext& context : {RequestContext{"device-blank", true}, RequestContext{"device-gone", true},
                                          RequestContext{std::nullopt, true}}) {
        ASSERT_TRUE(call(JSONObject{{"action", "shutdown"}}, context).ok.value_or(false));
        EXPECT_EQ(countdown->current()->deviceName, "your phone");
        countdown->cancel();
    }
    EXPECT_TRUE(executor->actions().empty());
}

TEST_F(ShutdownMethodsFixture, RefusedBeforeAuthentication) {
    EXPECT_EQ(call(JSONObject{{"action", "shutdown"}}, RequestContext{std::nullopt, false}),
              Envelope::failure("1", {ErrorCode::unauthorized, "Not authenticated"}));
    EXPECT_FALSE(countdown->current().has_value());
}
