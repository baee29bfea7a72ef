#pragma once

#include <fstream>
#include <functional>
#include <vector>

#include "agent/update/UpdateDownloading.h"
#include "agent/update/UpdateFailure.h"
#include "agent/update/UpdateInstalling.h"
#include "agent/update/UpdateManifestFetching.h"
#include "agent/update/UpdateService.h"
#include "agent/update/UpdateStatus.h"
#include "agent/update/UpdateVerifying.h"
#include "tests/support/Recorder.h"
#include "tests/support/TempFolder.h"
#include "tests/update/TestManifests.h"

namespace kx::testing {

class FakeFetcher : public UpdateManifestFetching {
public:
    std::function<std::string()> respond = [] { return std::string("{}"); };
    std::atomic<int> calls{0};

    void serve(const std::string& text) {
        respond = [text] { return text; };
    }

    std::string fetch(std::stop_token) override {
        ++calls;
        return respond();
    }
};

// Writes `contents` to a file in its own folder and reports progress after every byte.
class FakeDownloader : public UpdateDownloading {
public:
    std::string contents = "archive";
    std::function<void()> beforeFinish = [] {};
    std::function<void()> failWith;  // throws when set
    std::atomic<int> calls{0};
    std::filesystem::path lastFile;

    std::filesystem::path download(const std::string&, std::int64_t, const Progress& progress,
                                   std::stop_token) override {
        ++calls;
        if (failWith) failWith();
        for (std::size_t done = 1; done <= contents.size(); ++done) progress(static_cast<std::int64_t>(done));
        lastFile = folder_ / ("download-" + std::to_string(calls.load()) + ".zip");
        std::ofstream(lastFile, std::ios::binary) << contents;
        beforeFinish();
        return lastFile;
    }

private:
    TempFolder folder_;
};

// Hands back an application inside a staging folder of its own.
class FakeVerifier : public UpdateVerifying {
public:
    std::function<void()> failWith;
    std::vector<std::string> archiveContents;
    std::filesystem::path lastStaging;

    std::filesystem::path prepare(const std::filesystem::path& archive, const UpdateRelease&) override {
        std::ifstream in(archive, std::ios::binary);
        archiveContents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (failWith) failWith();
        lastStaging = folder_ / ("staging-" + std::to_string(archiveContents.size()));
        std::filesystem::create_directories(lastStaging / "Kestrix");
        return lastStaging / "Kestrix";
    }

private:
    TempFolder folder_;
};

class FakeInstaller : public UpdateInstalling {
public:
    std::optional<UpdateFailure> preflightProblem;
    std::function<void()> failWith;
    int pagesOpened = 0;
    std::vector<std::filesystem::path> installed;

    void preflight() override {
        if (preflightProblem) throw *preflightProblem;
    }
    bool openDownloadPage() override { return ++pagesOpened > 0; }
    void install(const std::filesystem::path& newApp) override {
        installed.push_back(newApp);
        if (failWith) failWith();
    }
};

// The four doubles, and the parts of a service for version 1.2.0 on linux made from them.
struct FakeParts {
    std::shared_ptr<FakeFetcher> fetcher = std::make_shared<FakeFetcher>();
    std::shared_ptr<FakeDownloader> downloader = std::make_shared<FakeDownloader>();
    std::shared_ptr<FakeVerifier> verifier = std::make_shared<FakeVerifier>();
    std::shared_ptr<FakeInstaller> installer = std::make_shared<FakeInstaller>();

    UpdateService::Parts parts(std::optional<Key32> key = testPublicKey(), const std::string& version = "1.2.0") {
        return {version, "linux", key, fetcher, downloader, verifier, installer, {}, {}};
    }
};

// Every status the service published, in order.
class StatusRecorder : public Recorder<UpdateStatus> {
public:
    std::vector<UpdateState> states() const {
        std::vector<UpdateState> states;
        for (const auto& status : entries()) states.push_back(status.state);
        return states;
    }
};

}  // namespace kx::testing
