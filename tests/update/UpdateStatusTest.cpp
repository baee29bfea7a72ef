#include <gtest/gtest.h>

#include <latch>

#include "agent/update/UpdateMenuText.h"
#include "agent/update/UpdateMethods.h"
#include "tests/update/TestManifests.h"
#include "tests/update/UpdateDoubles.h"

using namespace kx;
using namespace kx::testing;

namespace {

// A status of version 1.2.0 in `state`, with 1.3.0 on offer unless `offer` is false.
UpdateStatus status(UpdateState state, bool offer = true) {
    UpdateStatus s;
    s.version = "1.2.0";
    s.state = state;
    if (offer)
        s.available =
            UpdateRelease{*AgentVersion::parse("1.3.0"), {}, "", "", 10, {"Faster pointer"}, {"input.pointer"}};
    return s;
}

}  // namespace

TEST(UpdateStatus, WireForms) {
    auto downloading = status(UpdateState::downloading);
    downloading.required = true;
    downloading.progress = 0.42;
    EXPECT_EQ(downloading.statusResult(), (JSONObject{{"version", "1.2.0"},
                                                      {"state", "downloading"},
                                                      {"progress", 0.42},
                                                      {"available", JSONObject{{"version", "1.3.0"},
                                                                               {"notes", JSONArray{"Faster pointer"}},
                                                                               {"caps", JSONArray{"input.pointer"}},
                                                                               {"required", true}}}}));
    EXPECT_EQ(downloading.eventParams(), (JSONObject{{"state", "downloading"}, {"progress", 0.42}}));

    auto failed = status(UpdateState::failed);
    failed.message = "Update failed: Could not download the update";
    EXPECT_EQ(failed.eventParams(),
              (JSONObject{{"state", "failed"}, {"message", "Update failed: Could not download the update"}}));
    std::vector<std::string> raw;
    for (auto state : allUpdateStates) raw.emplace_back(rawValue(state));
    EXPECT_EQ(raw, (std::vector<std::string>{"idle", "checking", "available", "downloading", "verifying", "installing",
                                             "failed", "upToDate", "paused"}));
}

// The texts that `kestrixd check-update` and `status` print (the badge, button and title have no caller yet).
TEST(UpdateMenuText, ShowsTheOfferUnlessPausedAndTheProgressOrFailure) {
    auto required = status(UpdateState::available);
    required.required = true;
    EXPECT_EQ(UpdateMenuText(required).headline(), "Update required: 1.3.0");
    EXPECT_EQ(UpdateMenuText(required).notes(), std::vector<std::string>{"Faster pointer"});
    EXPECT_EQ(UpdateMenuText(status(UpdateState::checking)).headline(), "Update available: 1.3.0");
    // A paused publisher hides the offer even if a release is still recorded.
    UpdateMenuText paused(status(UpdateState::paused));
    EXPECT_FALSE(paused.headline() || !paused.notes().empty());

    auto downloading = status(UpdateState::downloading);
    EXPECT_EQ(UpdateMenuText(downloading).detail(), "Downloading\u2026");
    downloading.progress = 0.995;
    EXPECT_EQ(UpdateMenuText(downloading).detail(), "Downloading\u2026 100%");
    auto failed = status(UpdateState::failed);
    failed.message = "Update failed: x";
    EXPECT_EQ(UpdateMenuText(failed).detail(), "Update failed: x");
}

// One row per request: the service's state before it, who asks, and the reply.
TEST(UpdateMethods, RepliesInEachState) {
    enum class Before { idle, available, downloading };
    struct Row {
        Before before;
        std::string method;
        bool authenticated;
        Envelope reply;
    };
    const std::vector<Row> rows = {
        {Before::idle, "agent.update.status", true,
         Envelope::success("1", JSONObject{{"version", "1.2.0"}, {"state", "idle"}})},
        {Before::idle, "agent.update.install", true,
         Envelope::failure("1", {ErrorCode::targetNotFound, "No update available"})},
        {Before::available, "agent.update.install", false,
         Envelope::failure("1", {ErrorCode::unauthorized, "Not authenticated"})},
        {Before::available, "agent.update.install", true, Envelope::success("1", JSONObject{{"started", true}})},
        {Before::downloading, "agent.update.install", true,
         Envelope::failure("1", {ErrorCode::busy, "An update is already in progress"})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.method + " in state " + std::to_string(static_cast<int>(row.before)));
        std::latch downloading{1}, finish{1};  // outlive the service, whose install may still wait on them
        FakeParts fakes;
        auto service = std::make_shared<UpdateService>(fakes.parts());
        CommandRouter router;
        registerUpdateMethods(router, service);
        EXPECT_EQ(router.capabilities(), std::set<Capability>{Capability::agentUpdate});
        fakes.downloader->beforeFinish = [&] {
            downloading.count_down();
            finish.wait();
        };
        if (row.before != Before::idle) {
            fakes.fetcher->serve(signedManifest());
            service->checkNow();
        }
        if (row.before == Before::downloading) {
            service->install();
            downloading.wait();
        }
        auto reply = router.dispatch(Envelope::request("1", row.method),
                                     row.authenticated ? RequestContext{"device", true} : RequestContext{});
        EXPECT_EQ(reply, row.reply);
        finish.count_down();
        service.reset();  // waits for an install the row started
    }
}
