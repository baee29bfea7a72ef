#include <gtest/gtest.h>

#include <fstream>

#include "agent/pairing/AgentIdentity.h"
#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "agent/pairing/PairingService.h"
#include "agent/service/AgentService.h"
#include "agent/support/AtomicFile.h"
#include "app/model/AgentModel.h"
#include "app/model/ShutdownPanelController.h"
#include "platform/linux/desktop/AutostartLoginItem.h"
#include "protocol/Base64URL.h"
#include "protocol/KxSec.h"
#include "tests/app/ManualMainQueue.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/power/PowerDoubles.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"
#include "tests/update/UpdateDoubles.h"

using namespace kx;
using namespace std::chrono_literals;
using kx::e2e::eventually;
using kx::testing::ManualMainQueue;

namespace {

class RecordingLoginItem : public LoginItem {
public:
    Status status() const override { return on ? Status::enabled : Status::disabled; }
    void set(bool value) override {
        on = value;
        calls.push_back(value);
    }
    bool on = false;
    std::vector<bool> calls;
};

class RecordingPanel : public ShutdownPanelView {
public:
    bool isVisible() const override { return visible; }
    void show(const std::string& message, const std::string& nowTitle, bool present) override {
        visible = true;
        shown.push_back(message.substr(0, message.find(' ')) + "|" + nowTitle + (present ? "|present" : ""));
    }
    void close() override {
        visible = false;
        if (controller) controller->closedByUser();  // as the window system reports every close
    }
    bool visible = false;
    std::vector<std::string> shown;
    ShutdownPanelController* controller = nullptr;
};

// The model over a real agent service on a free port, with a main queue and clock the test drives.
struct Harness {
    kx::testing::TempFolder folder{"model"};
    std::shared_ptr<ManualMainQueue> main = std::make_shared<ManualMainQueue>();
    std::chrono::system_clock::time_point clock = std::chrono::system_clock::now();
    std::shared_ptr<kx::testing::RecordingExecutor> executor = std::make_shared<kx::testing::RecordingExecutor>();
    std::shared_ptr<RecordingLoginItem> loginItem = std::make_shared<RecordingLoginItem>();
    std::shared_ptr<UpdateService> updates;  // null: the live service, not configured here
    int built = 0;
    bool failToBuild = false;
    std::shared_ptr<AgentModel> model;

    explicit Harness(std::filesystem::path settings = {}) {
        AgentModel::Parts parts;
        parts.main = main;
        parts.makeService = [this](auto onDangerous) {
            ++built;
            if (failToBuild) throw std::runtime_error("The identity key cannot be read");
            AgentServiceOptions options;
            options.identityStore = std::make_shared<MemoryIdentityStore>();
            options.registryPath = folder / "devices.json";
            options.commandsPath = folder / "commands.json";
            options.hostName = "box";
            options.platform = "linux";
            options.shutdownExecutor = executor;
            options.onDangerousCommand = onDangerous;
            options.updates = updates;
            return AgentService::create(std::move(options));
        };
        parts.port = 0;
        parts.advertise = false;
        parts.loginItem = loginItem;
        parts.loginItemDefaulted.emplace(settings.empty() ? folder / "settings.json" : settings,
                                         "kx.openAtLogin.defaulted");
        parts.version = "1.2.3";
        parts.now = [this] { return clock; };
        model = AgentModel::make(std::move(parts));
    }

    // Runs what the service's threads posted until the condition holds.
    bool settle(const std::function<bool()>& condition) {
        return eventually([&] {
            main->run();
            return condition();
        });
    }
    void pass(std::chrono::seconds time) {
        clock += time;
        main->advance(time);
    }
    void addPhone(const std::string& id, const std::string& name) {
        model->service()->registry().registerDevice(
            {id, name, KxSec::fingerprint(Key32{}), clock, std::nullopt, "android"});
        model->refreshDevices();
    }
};

}  // namespace

TEST(AgentModel, StartsOneServiceRetryingAFailedStartAndMirrorsIt) {
    Harness h;
    EXPECT_EQ(h.model->agentName(), "This computer");
    EXPECT_EQ(h.model->fingerprint(), "");
    EXPECT_EQ(h.model->versionLine(), "Kestrix 1.2.3");
    EXPECT_FALSE(h.model->hasUpdate());
    h.model->checkForUpdates();  // nothing to check with before the service exists
    h.model->installUpdate();
    h.model->beginPairing();
    EXPECT_FALSE(h.model->pairingPayload());

    // A failed start is shown and tried again later; once started, the service is not built again.
    h.failToBuild = true;
    h.model->startIfNeeded();
    EXPECT_EQ(h.model->startupError(), "The identity key cannot be read");
    EXPECT_FALSE(h.model->hasService());
    h.failToBuild = false;
    h.model->startIfNeeded();
    h.model->startIfNeeded();
    EXPECT_EQ(h.built, 2);
    EXPECT_FALSE(h.model->startupError());
    ASSERT_TRUE(h.settle([&] { return h.model->transportState().which == TransportState::Case::listening; }));
    EXPECT_EQ(h.model->agentName(), "box");
    EXPECT_EQ(h.model->fingerprint().size(), 43u);
    EXPECT_FALSE(h.model->updatesConfigured());

    h.model->killSwitch();
    ASSERT_TRUE(h.settle([&] { return h.model->transportState().which == TransportState::Case::stopped; }));
    EXPECT_EQ(h.model->connectionCount(), 0u);
    h.model->resume();
    EXPECT_TRUE(h.settle([&] { return h.model->transportState().which == TransportState::Case::listening; }));
}

TEST(AgentModel, UpdateStatusFollowsTheServiceFromCheckToOfferToFailure) {
    kx::testing::FakeParts fakes;
    fakes.fetcher->serve(kx::testing::signedManifest());  // offers 1.3.0
    Harness h;
    h.updates = std::make_shared<UpdateService>(fakes.parts());
    h.model->startIfNeeded();
    EXPECT_TRUE(h.model->updatesConfigured());
    EXPECT_EQ(h.model->versionLine(), "Kestrix 1.2.0");
    EXPECT_FALSE(h.model->hasUpdate());

    h.model->checkForUpdates();
    ASSERT_TRUE(h.settle([&] { return h.model->hasUpdate(); }));
    EXPECT_EQ(h.model->update()->state, UpdateState::available);
    EXPECT_EQ(h.model->updateText()->headline(), "Update available: 1.3.0");
    EXPECT_TRUE(h.model->updateText()->showsUpdateNow());

    // The fake download does not match the manifest: the failure is shown, the offer stays.
    h.model->installUpdate();
    ASSERT_TRUE(h.settle([&] { return h.model->update()->state == UpdateState::failed; }));
    EXPECT_TRUE(h.model->updateText()->detailIsWarning());
    EXPECT_TRUE(h.model->updateText()->showsUpdateNow());
    EXPECT_TRUE(h.model->hasUpdate());
}

TEST(AgentModel, PairingCodeCountsDownAndEndsAtExpiryOrWhenRedeemed) {
    kx::testing::ScopedVariable lifetime(PairingService::lifetimeVariable, "60");
    Harness h;
    EXPECT_EQ(h.model->pairingSecondsRemaining(), 0);
    h.model->startIfNeeded();
    h.model->beginPairing("127.0.0.1");
    ASSERT_TRUE(h.model->pairingPayload());
    EXPECT_EQ(h.model->pairingPayload()->host, "127.0.0.1");
    EXPECT_EQ(h.model->pairingPayload()->fp, h.model->fingerprint());
    EXPECT_TRUE(h.model->isPairing());
    EXPECT_EQ(h.model->pairingSecondsRemaining(), 60);
    h.pass(46s);
    EXPECT_EQ(h.model->pairingSecondsRemaining(), 14);
    h.pass(14s);
    EXPECT_FALSE(h.model->pairingPayload());
    EXPECT_FALSE(h.model->isPairing());
    EXPECT_EQ(h.model->pairingSecondsRemaining(), 0);
    EXPECT_EQ(h.main->liveRepeats(), 0u);
    EXPECT_FALSE(h.model->service()->pairing().isPairing());

    // A phone redeeming the code takes it down and shows up in the list at once.
    h.model->beginPairing();
    std::string token = h.model->pairingPayload()->token;
    h.model->service()->pairing().redeem(token, "Pixel", base64URLEncode(AgentIdentity::generate().publicKey()),
                                         "android");
    ASSERT_TRUE(h.settle([&] { return !h.model->pairingPayload(); }));
    ASSERT_EQ(h.model->devices().size(), 1u);
    EXPECT_EQ(h.model->devices()[0].name, "Pixel");
}

TEST(AgentModel, RingResultIsShownForFourSeconds) {
    Harness h;
    h.model->ringDevices();
    EXPECT_EQ(h.model->lastRingResult(), "No phones connected");
    h.pass(3s);
    h.model->startIfNeeded();
    h.model->ringDevices();  // the newer result gets its own four seconds
    EXPECT_EQ(h.model->lastRingResult(), "No phones connected");
    h.pass(3s);
    EXPECT_TRUE(h.model->lastRingResult());
    h.pass(1s);
    EXPECT_FALSE(h.model->lastRingResult());
}

TEST(AgentModel, RevokeNeedsTwoPressesOfTheSameRow) {
    Harness h;
    h.model->startIfNeeded();
    h.addPhone("d_a", "Pixel");
    h.addPhone("d_b", "Galaxy");
    h.model->pressRevoke("d_a");
    EXPECT_TRUE(h.model->isConfirmingRevoke("d_a"));
    EXPECT_FALSE(h.model->isConfirmingRevoke("d_b"));
    EXPECT_EQ(h.model->devices().size(), 2u);
    h.model->pressRevoke("d_b");
    h.model->pressRevoke("d_a");
    ASSERT_EQ(h.model->devices().size(), 1u);
    EXPECT_EQ(h.model->devices()[0].id, "d_b");
    EXPECT_FALSE(h.model->isConfirmingRevoke("d_a"));
    EXPECT_FALSE(h.model->service()->registry().device("d_a"));
}

TEST(AgentModel, ShutdownPanelFollowsTheCountdownAndOnlyTheUserCancels) {
    Harness h;
    RecordingPanel panel;
    int cancels = 0;
    ShutdownPanelController controller(
        panel,
        [&] {
            ++cancels;
            h.model->cancelShutdown();
        },
        [&] { h.model->shutdownNow(); });
    panel.controller = &controller;
    std::vector<std::optional<ShutdownCountdown::Snapshot>> told;
    h.model->setOnShutdownChange([&](const auto& snapshot) {
        told.push_back(snapshot);
        controller.update(snapshot);
    });
    h.model->startIfNeeded();
    auto countdown = h.model->service()->shutdown();
    auto pending = [&] { return h.model->shutdownCountdown().has_value(); };

    // Escape cancels; the panel then closes without that counting as a second cancel.
    countdown->start(ShutdownAction::restart, "Pixel");
    ASSERT_TRUE(h.settle(pending));
    EXPECT_EQ(panel.shown.at(0), "Restarting|Restart now|present");
    controller.escapePressed();
    ASSERT_TRUE(h.settle([&] { return !pending(); }));
    EXPECT_FALSE(panel.visible);
    EXPECT_EQ(cancels, 1);
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(std::count(told.begin(), told.end(), std::nullopt), 1);

    // The close box cancels.
    countdown->start(ShutdownAction::shutdown, "Pixel");
    ASSERT_TRUE(h.settle(pending));
    EXPECT_EQ(panel.shown.back(), "Shutting|Shut down now|present");
    panel.close();
    EXPECT_EQ(cancels, 2);
    EXPECT_TRUE(h.settle([&] { return !pending(); }));

    // "Shut down now" carries it out, and the panel closing afterwards cancels nothing.
    countdown->start(ShutdownAction::shutdown, "Pixel");
    ASSERT_TRUE(h.settle(pending));
    controller.nowPressed();
    ASSERT_TRUE(h.settle([&] { return !pending(); }));
    EXPECT_EQ(h.executor->actions(), std::vector<ShutdownAction>{ShutdownAction::shutdown});
    EXPECT_EQ(cancels, 2);
    EXPECT_FALSE(panel.visible);
}

TEST(AgentModel, OpenAtLoginIsTurnedOnOncePerUser) {
    kx::testing::TempFolder settings("settings");
    auto file = settings / "settings.json";
    writeFileAtomically(file, R"({"checkForUpdatesAutomatically": false})");
    {
        Harness first(file);
        EXPECT_EQ(first.loginItem->calls, std::vector<bool>{true});
        EXPECT_TRUE(first.model->openAtLogin());
        first.model->setOpenAtLogin(false);
        EXPECT_EQ(first.loginItem->calls, (std::vector<bool>{true, false}));
    }
    Harness later(file);
    EXPECT_TRUE(later.loginItem->calls.empty());
    EXPECT_FALSE(later.model->openAtLogin());
    // The other keys of the file are kept.
    EXPECT_NE(readWholeFile(file)->find("\"checkForUpdatesAutomatically\": false"), std::string::npos);
}

// A dangerous saved command is refused to the phone, and asked about on the computer: Run types
// it into the session, Don't run and sixty seconds without an answer do nothing.
TEST(AgentModel, DangerousCommandWaitsForThePersonAtTheComputer) {
    Harness h;
    kx::testing::ScopedVariable tmuxFolder("TMUX_TMPDIR", h.folder.path().string());
    const auto marker = h.folder / "ran";
    std::ofstream(h.folder / "commands.json") << R"({"templates": [
        {"id": "t_sh", "name": "Plain shell", "icon": "terminal", "cwd": "/", "program": "/bin/sh"}],
      "commands": [{"id": "c_wipe", "name": "Wipe", "icon": "trash", "templateId": "t_sh", "danger": true,
                    "command": "touch )" + marker.string() +
                                                     R"("}]})";
    h.model->startIfNeeded();
    auto& service = *h.model->service();
    std::string session = service.sessions().create("t_sh", std::string("work"));
    auto ask = [&] {
        auto response = service.router().dispatch(
            Envelope::request("1", "session.run", JSONObject{{"id", session}, {"commandId", "c_wipe"}}),
            RequestContext{"d_a", true});
        EXPECT_EQ(response.ok, false);
        EXPECT_EQ(response.e.value_or(WireError{}).code, ErrorCode::needsConfirmation);
        h.main->run();
        return h.model->pendingConfirmations().empty() ? 0 : h.model->pendingConfirmations().back().id;
    };

    auto first = ask();
    ASSERT_EQ(h.model->pendingConfirmations().size(), 1u);
    EXPECT_EQ(h.model->pendingConfirmations()[0].question(), "Run Wipe in work?");
    ask();  // asking again replaces the question rather than piling up
    EXPECT_EQ(h.model->pendingConfirmations().size(), 1u);
    h.model->answerConfirmation(first, true);  // the replaced question is no longer answerable
    EXPECT_EQ(h.model->pendingConfirmations().size(), 1u);

    h.model->answerConfirmation(h.model->pendingConfirmations()[0].id, false);
    EXPECT_TRUE(h.model->pendingConfirmations().empty());
    ask();
    h.pass(59s);
    EXPECT_EQ(h.model->pendingConfirmations().size(), 1u);
    h.pass(1s);
    EXPECT_TRUE(h.model->pendingConfirmations().empty());
    EXPECT_FALSE(std::filesystem::exists(marker));

    h.model->answerConfirmation(ask(), true);
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(marker); }, 10s));
    service.sessions().kill(session);
}

TEST(AutostartLoginItem, ExecArgumentsAreQuotedAsDesktopEntriesRequire) {
    struct Case {
        std::string argument;
        std::string quoted;
    };
    const Case cases[] = {
        {"/usr/bin/kestrix", "/usr/bin/kestrix"},
        {"/home/me/My Data", "\"/home/me/My Data\""},
        {"say \"hi\"", "\"say \\\\\"hi\\\\\"\""},
        {"100%", "\"100%%\""},
        {"$HOME", "\"\\\\$HOME\""},
        {"", "\"\""},
    };
    for (const auto& c : cases) EXPECT_EQ(AutostartLoginItem::quoted(c.argument), c.quoted) << c.argument;
}

TEST(AutostartLoginItem, OnWritesTheEntryOffRemovesItAndAHiddenEntryIsOff) {
    kx::testing::TempFolder folder("autostart");
    auto entry = folder / "config" / "autostart" / AutostartLoginItem::entryName;
    AutostartLoginItem item(entry, {"/opt/kestrix/kestrix", "--data-dir", "/data/my phone"});
    EXPECT_EQ(item.status(), LoginItem::Status::disabled);

    item.set(true);
    EXPECT_EQ(item.status(), LoginItem::Status::enabled);
    auto text = readWholeFile(entry).value_or("");
    EXPECT_NE(text.find("\nExec=/opt/kestrix/kestrix --data-dir \"/data/my phone\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);

    // A desktop told to skip the entry marks it hidden: then it is off.
    writeFileAtomically(entry, text + "Hidden=true\n");
    EXPECT_EQ(item.status(), LoginItem::Status::disabled);

    item.set(false);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_NO_THROW(item.set(false));
    EXPECT_THROW(AutostartLoginItem({}, {"kestrix"}).set(true), std::runtime_error);
}
