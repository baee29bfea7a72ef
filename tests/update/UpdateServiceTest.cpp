#include <gtest/gtest.h>

#include <thread>

#include "agent/update/UpdateService.h"
#include "tests/update/TestManifests.h"
#include "tests/update/UpdateDoubles.h"

using namespace kx;
using namespace kx::testing;

namespace {

class UpdateServiceTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeFetcher> fetcher = std::make_shared<FakeFetcher>();
    std::shared_ptr<FakeDownloader> downloader = std::make_shared<FakeDownloader>();
    std::shared_ptr<FakeVerifier> verifier = std::make_shared<FakeVerifier>();
    std::shared_ptr<FakeInstaller> installer = std::make_shared<FakeInstaller>();
    StatusRecorder recorder;
    std::unique_ptr<UpdateService> service;

    void SetUp() override { service = make("1.2.0"); }

    std::unique_ptr<UpdateService> make(const std::string& version, std::optional<Key32> key = testPublicKey(),
                                        UpdateService::Sleep sleep = {}, std::function<bool()> automatic = {}) {
        auto made = std::make_unique<UpdateService>(UpdateService::Parts{
            version, "linux", key, fetcher, downloader, verifier, installer, std::move(sleep), std::move(automatic)});
        made->setOnChange([this](const UpdateStatus& status) { recorder(status); });
        return made;
    }

    // Serves a manifest whose release matches what the downloader will deliver.
    ReleaseFields serveRelease(const std::string& version = "1.3.0", const std::string& minimum = "1.0.0",
                               bool paused = false) {
        ReleaseFields fields;
        fields.version = version;
        fields.minimumVersion = minimum;
        fields.size = static_cast<std::int64_t>(downloader->contents.size());
        fields.sha256 = sha256Hex(downloader->contents);
        auto text = signedManifest(fields, paused);
        fetcher->respond = [text] { return text; };
        return fields;
    }

    void becomeAvailable() {
        serveRelease();
        service->checkNow();
        ASSERT_EQ(service->status().state, UpdateState::available);
        recorder.clear();
    }

    void installAndWait() { service->install().wait(); }
};

}  // namespace

TEST_F(UpdateServiceTest, CheckPublishesCheckingThenTheDecision) {
    serveRelease("1.3.0", "1.2.5");
    service->checkNow();
    EXPECT_EQ(recorder.states(), (std::vector{UpdateState::checking, UpdateState::available}));
    auto status = service->status();
    EXPECT_EQ(status.version, "1.2.0");
    ASSERT_TRUE(status.available.has_value());
    EXPECT_EQ(status.available->version.description(), "1.3.0");
    EXPECT_TRUE(status.required);

    serveRelease("1.2.0");
    service->checkNow();
    EXPECT_EQ(service->status().state, UpdateState::upToDate);
    EXPECT_FALSE(service->status().available.has_value());
    EXPECT_FALSE(service->status().required);

    serveRelease("1.3.0", "1.0.0", true);
    service->checkNow();
    EXPECT_EQ(service->status().state, UpdateState::paused);
    EXPECT_FALSE(service->status().available.has_value());
    try {
        service->install();
        ADD_FAILURE() << "install was not refused";
    } catch (const InstallRefusalError& refused) {
        EXPECT_EQ(refused.refusal, InstallRefusal::noUpdate);
    }
}

TEST_F(UpdateServiceTest, FailedCheckPutsThePreviousStatusBackAndNeverPublishesFailed) {
    serveRelease();
    service->checkNow();
    auto before = service->status();
    recorder.clear();

    auto tamperedText = signedManifest();
    tamperedText.replace(tamperedText.find("Faster"), 6, "Slower");
    fetcher->respond = [tamperedText] { return tamperedText; };
    service->checkNow();
    fetcher->respond = []() -> std::string { throw std::runtime_error("Could not resolve host"); };
    service->checkNow();
    fetcher->respond = [] { return std::string("{\"schema\":2"); };
    service->checkNow();

    EXPECT_EQ(service->status(), before);
    for (const auto& status : recorder.statuses()) {
        EXPECT_NE(status.state, UpdateState::failed);
        EXPECT_FALSE(status.message.has_value());
    }
    EXPECT_EQ(recorder.states().size(), 6u);
    EXPECT_EQ(recorder.statuses().back(), before);

    // From idle too: the failed check ends in idle again.
    service = make("1.2.0");
    service->checkNow();
    EXPECT_EQ(service->status().state, UpdateState::idle);
}

TEST_F(UpdateServiceTest, WithoutKeyOrParsableVersionUpdatesAreOff) {
    for (auto& off : {make("1.2.0", std::nullopt), make("1.2")}) {
        EXPECT_FALSE(off->isConfigured());
        off->checkNow();
        off->checkNow();
        EXPECT_EQ(off->status().state, UpdateState::idle);
    }
    EXPECT_EQ(fetcher->calls, 0);
    EXPECT_TRUE(recorder.statuses().empty());
    EXPECT_TRUE(service->isConfigured());
}

TEST_F(UpdateServiceTest, SecondCheckDuringAFetchReturnsAtOnce) {
    serveRelease();
    auto text = fetcher->respond();
    Gate entered, release;
    fetcher->respond = [&, text] {
        entered.open();
        release.wait();
        return text;
    };
    std::thread first([&] { service->checkNow(); });
    entered.wait();
    service->checkNow();
    EXPECT_EQ(fetcher->calls, 1);
    EXPECT_EQ(recorder.states(), std::vector{UpdateState::checking});
    release.open();
    first.join();
    EXPECT_EQ(service->status().state, UpdateState::available);
}

TEST_F(UpdateServiceTest, CheckResultIsDroppedWhenAnInstallStartedMeanwhile) {
    becomeAvailable();
    Gate entered, release;
    fetcher->respond = [&] {
        entered.open();
        release.wait();
        return std::string("garbage");
    };
    Gate downloading, finishDownload;
    downloader->beforeFinish = [&] {
        downloading.open();
        finishDownload.wait();
    };
    std::thread check([&] { service->checkNow(); });
    entered.wait();
    // The offer survives the start of a check, so the menu can still install.
    EXPECT_EQ(service->status().state, UpdateState::checking);
    auto done = service->install();
    downloading.wait();
    release.open();
    check.join();
    EXPECT_EQ(service->status().state, UpdateState::downloading);
    finishDownload.open();
    done.wait();
    EXPECT_EQ(service->status().state, UpdateState::installing);
}

TEST_F(UpdateServiceTest, InstallRunsDownloadVerifyInstallAndRemovesTheArchive) {
    downloader->contents = std::string(1000, 'z');
    downloader->step = 1;
    becomeAvailable();
    installAndWait();

    auto states = recorder.states();
    EXPECT_EQ(states.front(), UpdateState::downloading);
    EXPECT_EQ(recorder.statuses().front().progress, 0.0);
    EXPECT_EQ(states.back(), UpdateState::installing);
    auto verifyingAt = std::find(states.begin(), states.end(), UpdateState::verifying);
    ASSERT_NE(verifyingAt, states.end());
    EXPECT_EQ(*(verifyingAt + 1), UpdateState::installing);
    // 0 % then one event per whole percent: 101 download events in all.
    EXPECT_EQ(std::count(states.begin(), states.end(), UpdateState::downloading), 101);
    double last = -1;
    for (const auto& status : recorder.statuses()) {
        if (status.state != UpdateState::downloading) {
            EXPECT_FALSE(status.progress.has_value());
            continue;
        }
        EXPECT_GT(*status.progress, last);
        last = *status.progress;
    }
    EXPECT_EQ(last, 1.0);

    ASSERT_EQ(verifier->archiveContents.size(), 1u);
    EXPECT_EQ(verifier->archiveContents[0], downloader->contents);
    EXPECT_EQ(installer->installed, std::vector{verifier->lastStaging / "Kestrix"});
    EXPECT_FALSE(std::filesystem::exists(downloader->lastFile));
    EXPECT_EQ(service->status().state, UpdateState::installing);
    EXPECT_THROW(service->install(), InstallRefusalError);
}

TEST_F(UpdateServiceTest, DigestOrSizeMismatchFailsAndRemovesTheDownload) {
    becomeAvailable();
    downloader->contents[0] ^= 1;  // same size, other digest
    installAndWait();
    auto status = service->status();
    EXPECT_EQ(status.state, UpdateState::failed);
    EXPECT_EQ(status.message, "Update failed: The download did not match the published update");
    EXPECT_FALSE(status.progress.has_value());
    EXPECT_TRUE(status.available.has_value());  // offered again
    EXPECT_FALSE(std::filesystem::exists(downloader->lastFile));
    EXPECT_TRUE(verifier->archives.empty());

    downloader->contents += "x";
    installAndWait();
    EXPECT_EQ(service->status().message, "Update failed: The download did not match the published update");
    EXPECT_FALSE(std::filesystem::exists(downloader->lastFile));
    EXPECT_EQ(downloader->calls, 2);
}

TEST_F(UpdateServiceTest, EachStepFailsWithItsReason) {
    becomeAvailable();
    installer->preflightProblem = UpdateFailure("Kestrix cannot replace itself in the folder it is in");
    installAndWait();
    EXPECT_EQ(service->status().message, "Update failed: Kestrix cannot replace itself in the folder it is in");
    EXPECT_EQ(installer->pagesOpened, 1);
    EXPECT_EQ(downloader->calls, 0);
    installer->preflightProblem.reset();

    downloader->failWith = [] { throw std::runtime_error("connection reset"); };
    installAndWait();
    EXPECT_EQ(service->status().message, "Update failed: Could not download the update");
    downloader->failWith = [] { throw UpdateFailure("The update address is not secure"); };
    installAndWait();
    EXPECT_EQ(service->status().message, "Update failed: The update address is not secure");
    downloader->failWith = nullptr;

    verifier->failWith = [] { throw std::filesystem::filesystem_error("x", std::error_code()); };
    installAndWait();
    EXPECT_EQ(service->status().message, "Update failed: Could not check the update");
    EXPECT_FALSE(std::filesystem::exists(downloader->lastFile));
    verifier->failWith = nullptr;

    installer->failWith = [] { throw UpdateFailure("Could not start the install"); };
    downloader->step = downloader->contents.size();
    recorder.clear();
    installAndWait();
    EXPECT_EQ(recorder.states(), (std::vector{UpdateState::downloading, UpdateState::downloading,
                                              UpdateState::verifying, UpdateState::installing, UpdateState::failed}));
    EXPECT_EQ(service->status().message, "Update failed: Could not start the install");
    EXPECT_FALSE(std::filesystem::exists(verifier->lastStaging));
    EXPECT_FALSE(std::filesystem::exists(downloader->lastFile));
    EXPECT_EQ(installer->pagesOpened, 1);
}

TEST_F(UpdateServiceTest, RefusesInstallWithoutOfferOrWhileBusy) {
    auto refusalOf = [this] {
        try {
            service->install();
            return std::optional<InstallRefusal>();
        } catch (const InstallRefusalError& refused) {
            return std::optional<InstallRefusal>(refused.refusal);
        }
    };
    EXPECT_EQ(refusalOf(), InstallRefusal::noUpdate);
    serveRelease("1.2.0");
    service->checkNow();
    EXPECT_EQ(refusalOf(), InstallRefusal::noUpdate);

    becomeAvailable();
    Gate downloading, finish;
    downloader->beforeFinish = [&] {
        downloading.open();
        finish.wait();
    };
    auto done = service->install();
    downloading.wait();
    EXPECT_EQ(refusalOf(), InstallRefusal::busy);
    // A check waits for the install too.
    service->checkNow();
    EXPECT_EQ(fetcher->calls, 2);
    finish.open();
    done.wait();
}

TEST_F(UpdateServiceTest, InstallAgainFromTheChangeCallbackDoesNotDeadlock) {
    becomeAvailable();
    downloader->failWith = [] { throw std::runtime_error("offline"); };
    std::atomic<int> retries{0};
    std::promise<void> retried;
    service->setOnChange([&](const UpdateStatus& status) {
        if (status.state == UpdateState::failed && retries++ == 0) {
            service->install();
            retried.set_value();
        }
    });
    service->install();
    retried.get_future().wait();
    service.reset();  // waits for the second attempt
    EXPECT_EQ(downloader->calls, 2);
}

TEST_F(UpdateServiceTest, SchedulerWaitsThenChecksOnlyWhenAutomaticChecksAreOn) {
    serveRelease();
    for (bool automatic : {true, false}) {
        std::mutex mutex;
        std::condition_variable_any changed;
        std::vector<std::chrono::seconds> sleeps;
        auto sleep = [&](std::chrono::seconds duration, std::stop_token stop) {
            std::unique_lock hold(mutex);
            sleeps.push_back(duration);
            changed.notify_all();
            // Three rounds, then wait here until stopped.
            if (sleeps.size() >= 3) changed.wait(hold, stop, [] { return false; });
        };
        int checksBefore = fetcher->calls;
        service = make("1.2.0", testPublicKey(), sleep, [automatic] { return automatic; });
        service->start();
        {
            std::unique_lock hold(mutex);
            changed.wait(hold, [&] { return sleeps.size() >= 3; });
        }
        service->stop();
        EXPECT_EQ(sleeps, (std::vector<std::chrono::seconds>{std::chrono::seconds(60), std::chrono::hours(6),
                                                             std::chrono::hours(6)}));
        EXPECT_EQ(fetcher->calls - checksBefore, automatic ? 2 : 0);
    }
    service->checkNow();
    EXPECT_EQ(service->status().state, UpdateState::available);
}

TEST_F(UpdateServiceTest, DestroyingTheServiceStopsTheDefaultSleepAtOnce) {
    service->start();
    service.reset();
    EXPECT_EQ(fetcher->calls, 0);
}
