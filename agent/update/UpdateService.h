#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "agent/update/AgentVersion.h"
#include "agent/update/UpdateDownloading.h"
#include "agent/update/UpdateInstalling.h"
#include "agent/update/UpdateManifestFetching.h"
#include "agent/update/UpdateStatus.h"
#include "agent/update/UpdateVerifying.h"
#include "protocol/Bytes.h"

namespace kx {

// Why `install` refused to start.
enum class InstallRefusal { noUpdate, busy };

struct InstallRefusalError : std::exception {
    InstallRefusal refusal;
    explicit InstallRefusalError(InstallRefusal r) : refusal(r) {}
    const char* what() const noexcept override;
};

// Keeps the agent up to date: checks the signed manifest a minute after start and then every
// six hours, publishes a status, and on request downloads, checks and installs the release.
// Every long operation runs outside the lock; each result is applied only if the state still
// expects it.
class UpdateService {
public:
    // Waits for the duration or until a stop is requested, whichever comes first.
    using Sleep = std::function<void(std::chrono::seconds, std::stop_token)>;
    using ChangeCallback = std::function<void(const UpdateStatus&)>;

    static constexpr std::chrono::seconds initialDelay{60};
    static constexpr std::chrono::seconds interval{6 * 60 * 60};

    struct Parts {
        std::string currentVersion;
        std::string platform;
        std::optional<Key32> publicKey;
        std::shared_ptr<UpdateManifestFetching> fetcher;
        std::shared_ptr<UpdateDownloading> downloader;
        std::shared_ptr<UpdateVerifying> verifier;
        std::shared_ptr<UpdateInstalling> installer;
        Sleep sleep;                            // default: a steady-clock wait that a stop ends
        std::function<bool()> automaticChecks;  // default: always on
    };

    explicit UpdateService(Parts parts);
    // Stops the scheduler and any running install (its transfer is aborted) and waits for both.
    ~UpdateService();
    UpdateService(const UpdateService&) = delete;
    UpdateService& operator=(const UpdateService&) = delete;

    // Called after every change with a copy of the status, outside the lock, on the thread
    // that made the change.
    void setOnChange(ChangeCallback callback);

    bool isConfigured() const;
    UpdateStatus status() const;

    void start();
    void stop();

    // One manifest check; blocks for the fetch. A failed check puts the previous status back and
    // returns why it failed (the same text it logs), as does a check while updates are off; a check
    // that ran, or was not needed because one is already running, returns nothing.
    std::optional<std::string> checkNow(std::stop_token stop = {});

    // Shows a failure that happened before this process started (a swap that was rolled back):
    // state `failed` with "Update failed: " + reason, as after a failed install.
    void reportEarlierFailure(const std::string& reason) { fail(reason); }

    // Starts downloading and installing the offered release on a thread of the service and
    // returns at once; the future is ready when that work has ended. Throws InstallRefusalError.
    std::shared_future<void> install();

    // Reasons the service gives when a collaborator fails with something other than an
    // UpdateFailure.
    static constexpr const char* downloadMismatchReason = "The download did not match the published update";
    static constexpr const char* downloadFailedReason = "Could not download the update";
    static constexpr const char* checkFailedReason = "Could not check the update";
    static constexpr const char* installFailedReason = "Could not start the install";
    // Logged once, and returned by every check, when the build has no key or no valid version.
    static constexpr const char* updatesOffMessage = "No update public key or version in this build; updates are off";

private:
    void schedulerLoop(std::stop_token stop);
    void run(const UpdateRelease& release, std::stop_token stop);
    std::optional<std::filesystem::path> download(const UpdateRelease& release, std::stop_token stop);
    void verifyAndInstall(const UpdateRelease& release, const std::filesystem::path& archive);
    void fail(const std::string& reason);
    void downloaded(std::int64_t bytes, std::int64_t total);
    std::string restoreAfterFailedCheck(const UpdateStatus& previous, const std::string& why);
    void enterStep(UpdateState state);
    void emit();

    const std::optional<AgentVersion> current_;
    const std::string platform_;
    const std::optional<Key32> publicKey_;
    const std::shared_ptr<UpdateManifestFetching> fetcher_;
    const std::shared_ptr<UpdateDownloading> downloader_;
    const std::shared_ptr<UpdateVerifying> verifier_;
    const std::shared_ptr<UpdateInstalling> installer_;
    const Sleep sleep_;
    const std::function<bool()> automaticChecks_;

    mutable std::mutex lock_;
    ChangeCallback onChange_;
    UpdateStatus state_;
    std::jthread scheduler_;
    std::jthread installTask_;
    bool loggedMissingKey_ = false;
};

}  // namespace kx
