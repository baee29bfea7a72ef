#include <gtest/gtest.h>

#include "agent/update/UpdateMenuText.h"
#include "agent/update/UpdateMethods.h"
#include "tests/update/TestManifests.h"
#include "tests/update/UpdateDoubles.h"

using namespace kx;
using namespace kx::testing;

namespace {

UpdateRelease release(const char* version = "1.3.0") {
    UpdateRelease r;
    r.version = *AgentVersion::parse(version);
    r.minimumVersion = *AgentVersion::parse("1.0.0");
    r.url = "https://updates.example.org/a.zip";
    r.sha256 = std::string(64, 'a');
    r.size = 10;
    r.notes = {"Faster pointer"};
    r.caps = {"input.pointer"};
    return r;
}

UpdateStatus status(UpdateState state, bool offer = true) {
    UpdateStatus s;
    s.version = "1.2.0";
    s.state = state;
    if (offer) s.available = release();
    return s;
}

}  // namespace

TEST(UpdateStatus, WireForms) {
    UpdateStatus idle;
    idle.version = "1.2.0";
    EXPECT_EQ(idle.statusResult(), (JSONObject{{"version", "1.2.0"}, {"state", "idle"}}));
    EXPECT_EQ(idle.eventParams(), (JSONObject{{"state", "idle"}}));

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

TEST(UpdateMenuText, OfferHeadlineAndButtons) {
    auto available = status(UpdateState::available);
    available.required = true;
    UpdateMenuText text(available);
    EXPECT_EQ(text.versionLine(), "Kestrix 1.2.0");
    EXPECT_EQ(text.headline(), "Update required: 1.3.0");
    EXPECT_EQ(text.notes(), std::vector<std::string>{"Faster pointer"});
    EXPECT_TRUE(text.showsBadge());
    EXPECT_TRUE(text.showsUpdateNow());
    EXPECT_EQ(text.detail(), std::nullopt);
    EXPECT_EQ(UpdateMenuText(status(UpdateState::checking)).headline(), "Update available: 1.3.0");
    EXPECT_TRUE(UpdateMenuText(status(UpdateState::checking)).showsUpdateNow());
    EXPECT_FALSE(UpdateMenuText(status(UpdateState::downloading)).showsUpdateNow());

    // A paused publisher hides the offer even if a release is still recorded.
    UpdateMenuText paused(status(UpdateState::paused));
    EXPECT_FALSE(paused.showsBadge());
    EXPECT_EQ(paused.headline(), std::nullopt);
    EXPECT_TRUE(paused.notes().empty());
    EXPECT_FALSE(UpdateMenuText(status(UpdateState::upToDate, false)).showsBadge());
}

TEST(UpdateMenuText, DetailAndCheckButton) {
    auto downloading = status(UpdateState::downloading);
    EXPECT_EQ(UpdateMenuText(downloading).detail(), "Downloading\u2026");
    downloading.progress = 0.07;
    EXPECT_EQ(UpdateMenuText(downloading).detail(), "Downloading\u2026 7%");
    downloading.progress = 0.995;
    EXPECT_EQ(UpdateMenuText(downloading).detail(), "Downloading\u2026 100%");
    EXPECT_EQ(UpdateMenuText(status(UpdateState::verifying)).detail(), "Checking the update\u2026");
    EXPECT_EQ(UpdateMenuText(status(UpdateState::installing)).detail(), "Installing \u2014 Kestrix will restart");
    auto failed = status(UpdateState::failed);
    failed.message = "Update failed: x";
    EXPECT_EQ(UpdateMenuText(failed).detail(), "Update failed: x");
    EXPECT_TRUE(UpdateMenuText(failed).detailIsWarning());
    EXPECT_FALSE(UpdateMenuText(status(UpdateState::available)).detailIsWarning());

    for (auto state : allUpdateStates) {
        UpdateMenuText text(status(state));
        EXPECT_EQ(text.canCheck(), !isBusy(state)) << rawValue(state);
    }
    EXPECT_EQ(UpdateMenuText(status(UpdateState::checking)).checkTitle(), "Checking\u2026");
    EXPECT_EQ(UpdateMenuText(status(UpdateState::upToDate)).checkTitle(), "Up to date \u2014 check again");
    EXPECT_EQ(UpdateMenuText(status(UpdateState::failed)).checkTitle(), "Check for updates");
}

TEST(UpdateMethods, StatusAndInstallOverTheRouter) {
    auto fetcher = std::make_shared<FakeFetcher>();
    auto downloader = std::make_shared<FakeDownloader>();
    auto verifier = std::make_shared<FakeVerifier>();
    auto installer = std::make_shared<FakeInstaller>();
    auto service = std::make_shared<UpdateService>(
        UpdateService::Parts{"1.2.0", "linux", testPublicKey(), fetcher, downloader, verifier, installer, {}, {}});
    CommandRouter router;
    registerUpdateMethods(router, service);
    EXPECT_EQ(router.capabilities(), std::set<Capability>{Capability::agentUpdate});
    RequestContext authed{"device", true};

    EXPECT_EQ(router.dispatch(Envelope::request("1", "agent.update.status"), authed),
              Envelope::success("1", JSONObject{{"version", "1.2.0"}, {"state", "idle"}}));
    EXPECT_EQ(router.dispatch(Envelope::request("2", "agent.update.install"), authed),
              Envelope::failure("2", {ErrorCode::targetNotFound, "No update available"}));
    EXPECT_EQ(router.dispatch(Envelope::request("3", "agent.update.status"), RequestContext{}),
              Envelope::failure("3", {ErrorCode::unauthorized, "Not authenticated"}));

    ReleaseFields fields;
    auto text = signedManifest(fields);
    fetcher->respond = [text] { return text; };
    service->checkNow();
    Gate downloading, finish;
    downloader->beforeFinish = [&] {
        downloading.open();
        finish.wait();
    };
    EXPECT_EQ(router.dispatch(Envelope::request("4", "agent.update.install"), authed),
              Envelope::success("4", JSONObject{{"started", true}}));
    downloading.wait();
    EXPECT_EQ(router.dispatch(Envelope::request("5", "agent.update.install"), authed),
              Envelope::failure("5", {ErrorCode::busy, "An update is already in progress"}));
    auto result = router.dispatch(Envelope::request("6", "agent.update.status"), authed);
    EXPECT_EQ(result.p->at("state"), JSONValue("downloading"));
    finish.open();
}
