#include <gtest/gtest.h>

#include <map>

#include "agent/power/ShutdownMethods.h"
#include "tests/power/PowerDoubles.h"

using namespace kx;
using namespace kx::testing;

namespace {

const RequestContext kPixel{"device-pixel", true};

// The method over a countdown whose ticks the test releases; devices are looked up by id.
struct ShutdownMethodsSetup {
    std::shared_ptr<RecordingExecutor> executor = std::make_shared<RecordingExecutor>();
    std::shared_ptr<TickGate> gate = TickGate::make();
    std::shared_ptr<ShutdownCountdown> countdown =
        ShutdownCountdown::make(executor, ShutdownCountdown::defaultSeconds, TickGate::sleeper(gate));
    std::map<std::string, std::string> names{{"device-pixel", "Pixel 8"}, {"device-blank", ""}};
    CommandRouter router;

    ShutdownMethodsSetup() {
        registerShutdownMethods(router, countdown, [this](const std::optional<std::string>& deviceID) {
            auto found = deviceID ? names.find(*deviceID) : names.end();
            return found == names.end() ? std::nullopt : std::optional(found->second);
        });
    }
    Envelope call(std::optional<JSONObject> params, const RequestContext& context = kPixel) {
        return router.dispatch(Envelope::request("1", "system.shutdown", std::move(params)), context);
    }
};

}  // namespace

// One row per request: who asks, with what, the reply and the countdown it leaves behind.
TEST(ShutdownMethods, RepliesAndTheCountdownTheyLeave) {
    using Snapshot = ShutdownCountdown::Snapshot;
    const Envelope invalid = Envelope::failure("1", {ErrorCode::invalidParams, "action must be shutdown or restart"});
    const Envelope started = Envelope::success("1", JSONObject{{"delaySeconds", 30}});
    struct Row {
        RequestContext context;
        std::optional<JSONObject> params;
        Envelope reply;
        std::optional<Snapshot> after;
    };
    const RequestContext blank{"device-blank", true}, gone{"device-gone", true}, anonymous{std::nullopt, true};
    const std::vector<Row> rows = {
        {kPixel, JSONObject{{"action", "restart"}, {"extra", true}}, started,
         Snapshot{ShutdownAction::restart, "Pixel 8", 30}},
        {kPixel, JSONObject{{"action", "shutdown"}}, started, Snapshot{ShutdownAction::shutdown, "Pixel 8", 30}},
        // Devices without a name show as "your phone".
        {blank, JSONObject{{"action", "shutdown"}}, started, Snapshot{ShutdownAction::shutdown, "your phone", 30}},
        {gone, JSONObject{{"action", "shutdown"}}, started, Snapshot{ShutdownAction::shutdown, "your phone", 30}},
        {anonymous, JSONObject{{"action", "restart"}}, started, Snapshot{ShutdownAction::restart, "your phone", 30}},
        {kPixel, JSONObject{{"action", "Restart"}}, invalid, std::nullopt},
        {kPixel, JSONObject{{"action", "reboot"}}, invalid, std::nullopt},
        {kPixel, JSONObject{{"action", 1}}, invalid, std::nullopt},
        {kPixel, std::nullopt, invalid, std::nullopt},
        {RequestContext{std::nullopt, false}, JSONObject{{"action", "shutdown"}},
         Envelope::failure("1", {ErrorCode::unauthorized, "Not authenticated"}), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.params ? JSONValue(*row.params).toJSONText() : "no params");
        ShutdownMethodsSetup setup;
        EXPECT_EQ(setup.call(row.params, row.context), row.reply);
        EXPECT_EQ(setup.countdown->current(), row.after);
        EXPECT_TRUE(setup.executor->actions().empty());
        EXPECT_TRUE(setup.router.capabilities().contains(Capability::systemShutdown));
    }
}

TEST(ShutdownMethods, SecondRequestIsBusyAndChangesNothing) {
    ShutdownMethodsSetup setup;
    ASSERT_TRUE(setup.call(JSONObject{{"action", "shutdown"}}).ok.value_or(false));
    setup.gate->release(2);
    while (setup.countdown->current()->remaining != 28) std::this_thread::yield();

    const RequestContext otherPhone{"device-blank", true};
    EXPECT_EQ(setup.call(JSONObject{{"action", "restart"}}, otherPhone),
              Envelope::failure("1", {ErrorCode::busy, "A shutdown is already counting down"}));
    EXPECT_EQ(setup.countdown->current(), (ShutdownCountdown::Snapshot{ShutdownAction::shutdown, "Pixel 8", 28}));
}
