#include <gtest/gtest.h>

#include <sys/stat.h>

#include <latch>
#include <thread>

#include "agent/support/AtomicFile.h"
#include "agent/update/BrowserOpener.h"
#include "agent/update/DownloadPageInstaller.h"
#include "agent/update/UpdatePreferences.h"
#include "tests/support/ScopedVariable.h"
#include "tests/update/TestManifests.h"
#include "tests/update/UpdateDoubles.h"

using namespace kx;
using namespace kx::testing;

namespace {

std::optional<InstallRefusal> refusalOf(UpdateService& service) {
    try {
        service.install();
        return std::nullopt;
    } catch (const InstallRefusalError& refused) {
        return refused.refusal;
    }
}

class UpdateServiceTest : public ::testing::Test, protected FakeParts {
protected:
    StatusRecorder recorder;
    std::unique_ptr<UpdateService> service = make();

    std::unique_ptr<UpdateService> make(std::optional<Key32> key = testPublicKey(),
                                        const std::string& version = "1.2.0", UpdateService::Sleep sleep = {},
                                        std::function<bool()> automatic = {}) {
        auto with = parts(key, version);
        with.sleep = std::move(sleep);
        with.automaticChecks = std::move(automatic);
        auto made = std::make_unique<UpdateService>(std::move(with));
        made->setOnChange([this](const UpdateStatus& status) { recorder.record(status); });
        return made;
    }

    // Serves a manifest whose release matches what the downloader will deliver.
    void serveRelease(const std::string& version = "1.3.0", const std::string& minimum = "1.0.0", bool paused = false) {
        ReleaseFields fields;
        fields.version = version;
        fields.minimumVersion = minimum;
        fields.size = static_cast<std::int64_t>(downloader->contents.size());
        fields.sha256 = sha256Hex(downloader->contents);
        fetcher->serve(signedManifest(fields, paused));
    }

    void becomeAvailable() {
        serveRelease();
        service->checkNow();
        ASSERT_EQ(service->status().state, UpdateState::available);
        recorder.clear();
    }
};

}  // namespace

TEST_F(UpdateServiceTest, CheckPublishesCheckingThenTheDecision) {
    struct Row {
        const char* version;
        const char* minimum;
        bool paused;
        UpdateState state;
        bool required;
    };
    for (const Row& row : {Row{"1.3.0", "1.2.5", false, UpdateState::available, true},
                           Row{"1.2.0", "1.0.0", false, UpdateState::upToDate, false},
                           Row{"1.3.0", "1.0.0", true, UpdateState::paused, false}}) {
        recorder.clear();
        serveRelease(row.version, row.minimum, row.paused);
        service->checkNow();
        EXPECT_EQ(recorder.states(), (std::vector{UpdateState::checking, row.state}));
        EXPECT_EQ(service->status().available.has_value(), row.state == UpdateState::available);
        EXPECT_EQ(service->status().required, row.required);
    }
    EXPECT_EQ(refusalOf(*service), InstallRefusal::noUpdate);  // paused
}

TEST_F(UpdateServiceTest, FailedCheckPutsThePreviousStatusBackAndNeverPublishesFailed) {
    becomeAvailable();
    auto before = service->status();
    auto tampered = signedManifest();
    tampered.replace(tampered.find("Faster"), 6, "Slower");
    fetcher->serve(tampered);
    service->checkNow();
    EXPECT_EQ(service->status(), before);
    fetcher->respond = []() -> std::string { throw std::runtime_error("Could not resolve host"); };
    service->checkNow();
    EXPECT_EQ(service->status(), before);
    EXPECT_EQ(recorder.states().size(), 4u);
    for (const auto& status : recorder.entries()) {
        EXPECT_NE(status.state, UpdateState::failed);
        EXPECT_FALSE(status.message.has_value());
    }
    EXPECT_EQ(recorder.entries().back(), before);
}

TEST_F(UpdateServiceTest, WithoutKeyOrParsableVersionUpdatesAreOff) {
    for (auto& off : {make(std::nullopt), make(testPublicKey(), "1.2")}) {
        EXPECT_FALSE(off->isConfigured());
        off->checkNow();
        EXPECT_EQ(off->status().state, UpdateState::idle);
    }
    EXPECT_EQ(fetcher->calls, 0);
    EXPECT_TRUE(recorder.entries().empty());
    EXPECT_TRUE(service->isConfigured());
}

// A check that finds a fetch or an install running returns at once without fetching.
TEST_F(UpdateServiceTest, CheckResultIsDroppedWhenAnInstallStartedMeanwhileAndOtherChecksReturnAtOnce) {
    becomeAvailable();
    std::latch entered{1}, release{1};
    fetcher->respond = [&] {
        entered.count_down();
        release.wait();
        return std::string("garbage");
    };
    std::latch downloading{1}, finishDownload{1};
    downloader->beforeFinish = [&] {
        downloading.count_down();
        finishDownload.wait();
    };
    std::thread check([&] { service->checkNow(); });
    entered.wait();
    service->checkNow();
    EXPECT_EQ(fetcher->calls, 2);
    EXPECT_EQ(recorder.states(), std::vector{UpdateState::checking});
    // The offer survives the start of a check, so the menu can still install.
    auto done = service->install();
    downloading.wait();
    release.count_down();
    check.join();
    EXPECT_EQ(service->status().state, UpdateState::downloading);
    service->checkNow();
    EXPECT_EQ(fetcher->calls, 2);
    finishDownload.count_down();
    done.wait();
    EXPECT_EQ(service->status().state, UpdateState::installing);
}

TEST_F(UpdateServiceTest, InstallRunsDownloadVerifyInstallAndRemovesTheArchive) {
    downloader->contents = std::string(1000, 'z');
    becomeAvailable();
    service->install().wait();

    // 0 % then one event per whole percent (101 in all), then verifying and installing without progress.
    auto statuses = recorder.entries();
    ASSERT_EQ(statuses.size(), 103u);
    for (std::size_t i = 0; i <= 100; ++i) {
        EXPECT_EQ(statuses[i].state, UpdateState::downloading);
        EXPECT_EQ(statuses[i].progress, i / 100.0);
    }
    EXPECT_EQ(statuses[101].state, UpdateState::verifying);
    EXPECT_EQ(statuses[102].state, UpdateState::installing);
    EXPECT_FALSE(statuses[101].progress.has_value() || statuses[102].progress.has_value());

    EXPECT_EQ(verifier->archiveContents, std::vector{downloader->contents});
    EXPECT_EQ(installer->installed, std::vector{verifier->lastStaging / "Kestrix"});
    EXPECT_FALSE(std::filesystem::exists(downloader->lastFile));
    EXPECT_EQ(refusalOf(*service), InstallRefusal::busy);
}

// One row per failing step, in the order the steps run; each failure removes what the steps before it left.
TEST_F(UpdateServiceTest, EachStepFailsWithItsReasonAndLeavesNoFiles) {
    struct Row {
        int step;  // 0 preflight, 1 download, 2 verify, 3 install
        std::function<void(FakeParts&)> fault;
        std::string reason;
    };
    const std::string mismatch = "The download did not match the published update";
    const std::vector<Row> rows = {
        {0, [](auto& f) { f.installer->preflightProblem = UpdateFailure("Kestrix cannot replace itself"); },
         "Kestrix cannot replace itself"},
        {1, [](auto& f) { f.downloader->contents[0] ^= 1; }, mismatch},  // same size, other digest
        {1, [](auto& f) { f.downloader->contents += "x"; }, mismatch},
        {1, [](auto& f) { f.downloader->failWith = [] { throw std::runtime_error("connection reset"); }; },
         "Could not download the update"},
        {1, [](auto& f) { f.downloader->failWith = [] { throw UpdateFailure("The update address is not secure"); }; },
         "The update address is not secure"},
        {2,
         [](auto& f) {
             f.verifier->failWith = [] { throw std::filesystem::filesystem_error("x", std::error_code()); };
         },
         "Could not check the update"},
        {3, [](auto& f) { f.installer->failWith = [] { throw UpdateFailure("Could not start the install"); }; },
         "Could not start the install"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reason);
        static_cast<FakeParts&>(*this) = FakeParts();
        service = make();
        becomeAvailable();
        row.fault(*this);
        service->install().wait();
        auto status = service->status();
        EXPECT_EQ(status.state, UpdateState::failed);
        EXPECT_EQ(status.message, "Update failed: " + row.reason);
        EXPECT_FALSE(status.progress.has_value());
        EXPECT_TRUE(status.available.has_value());  // offered again
        EXPECT_EQ(installer->pagesOpened, row.step == 0 ? 1 : 0);
        EXPECT_EQ(downloader->calls, row.step >= 1 ? 1 : 0);
        EXPECT_EQ(verifier->archiveContents.size(), row.step >= 2 ? 1u : 0u);
        EXPECT_EQ(installer->installed.size(), row.step >= 3 ? 1u : 0u);
        EXPECT_FALSE(std::filesystem::exists(downloader->lastFile));
        EXPECT_FALSE(std::filesystem::exists(verifier->lastStaging));
    }
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
        Recorder<std::chrono::seconds> sleeps;
        auto sleep = [&](std::chrono::seconds duration, std::stop_token stop) {
            sleeps.record(duration);
            // Three rounds, then wait here until stopped.
            std::mutex mutex;
            std::unique_lock hold(mutex);
            if (sleeps.entries().size() >= 3) std::condition_variable_any().wait(hold, stop, [] { return false; });
        };
        int checksBefore = fetcher->calls;
        service = make(testPublicKey(), "1.2.0", sleep, [automatic] { return automatic; });
        service->start();
        ASSERT_TRUE(sleeps.waitForCount(3));
        service->stop();
        EXPECT_EQ(sleeps.entries(), (std::vector<std::chrono::seconds>{std::chrono::seconds(60), std::chrono::hours(6),
                                                                       std::chrono::hours(6)}));
        EXPECT_EQ(fetcher->calls - checksBefore, automatic ? 2 : 0);
    }
}

TEST_F(UpdateServiceTest, DestroyingTheServiceStopsTheDefaultSleepAtOnce) {
    service->start();
    service.reset();
    EXPECT_EQ(fetcher->calls, 0);
}

// Only reading has a caller: a missing or mistyped value reads as on.
TEST(UpdatePreferences, LiveInTheConfigurationFolderAndReadMistypedValuesAsOn) {
    TempFolder folder;
    ScopedVariable configuration("XDG_CONFIG_HOME", (folder / "config").string());
    auto preferences = UpdatePreferences::standard();
    EXPECT_TRUE(preferences->automaticChecks());
    auto file = folder / "config" / "Kestrix" / "settings.json";
    std::filesystem::create_directories(file.parent_path());
    for (const char* text : {"{\"checkForUpdatesAutomatically\": \"no\"}", "not json", "[false]"}) {
        std::ofstream(file) << text;
        EXPECT_TRUE(preferences->automaticChecks()) << text;
    }
    std::ofstream(file) << "{\"checkForUpdatesAutomatically\": false}";
    EXPECT_FALSE(preferences->automaticChecks());
}

// The preflight's text says the download page is open only when xdg-open (a stand-in on a PATH of
// its own, or none) showed it; otherwise it gives the page's address.
TEST(DownloadPage, TheFailureSaysThePageIsOpenOnlyWhenItOpened) {
    const std::string page = "https://updates.example.org/download/";
    const std::string problem = "Update failed: This installation of Kestrix cannot replace itself. ";
    const std::vector<std::pair<std::optional<std::string>, std::string>> rows = {
        {std::nullopt, problem + "Download the new version from " + page},
        {"exit 3", problem + "Download the new version from " + page},
        {"[ \"$1\" = " + page + " ]", problem + "The download page is open on the computer"},
    };
    for (const auto& [opener, message] : rows) {
        SCOPED_TRACE(opener.value_or("no xdg-open"));
        TempFolder bin;
        if (opener) {
            std::ofstream(bin / "xdg-open") << "#!/bin/sh\n" << *opener << "\n";
            ::chmod((bin / "xdg-open").c_str(), 0755);
        }
        ScopedVariable path("PATH", bin.path().string());
        FakeParts fakes;
        auto parts = fakes.parts();
        parts.installer = std::make_shared<DownloadPageInstaller>(page, openInBrowser);
        fakes.fetcher->serve(signedManifest({.sha256 = sha256Hex(fakes.downloader->contents),
                                             .size = static_cast<std::int64_t>(fakes.downloader->contents.size())}));
        UpdateService service(std::move(parts));
        EXPECT_EQ(service.checkNow(), std::nullopt);
        service.install().wait();
        EXPECT_EQ(service.status().message, message);
        EXPECT_EQ(fakes.downloader->calls, 0);
    }
}
