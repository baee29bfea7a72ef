#include "agent/update/UpdateService.h"

#include <algorithm>
#include <condition_variable>
#include <system_error>

#include "agent/support/Log.h"
#include "agent/update/FileDigest.h"
#include "agent/update/UpdateDecision.h"
#include "agent/update/UpdateFailure.h"
#include "agent/update/UpdateManifest.h"

namespace kx {

namespace {

constexpr std::int64_t kWholePercent = 100;

void steadySleep(std::chrono::seconds duration, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock hold(mutex);
    wake.wait_for(hold, stop, duration, [] { return false; });
}

void removeQuietly(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

// Ends a worker thread taken out of the service: joins it, unless the caller is that very
// thread (a change callback that calls back in), which must not wait for itself.
void finish(std::jthread thread) {
    if (!thread.joinable()) return;
    thread.request_stop();
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
    } else {
        thread.join();
    }
}

bool matchesRelease(const std::filesystem::path& archive, const UpdateRelease& release) {
    std::error_code error;
    auto size = std::filesystem::file_size(archive, error);
    if (error || size != static_cast<std::uintmax_t>(release.size)) return false;
    auto digest = sha256HexOfFile(archive);
    return digest && *digest == release.sha256;
}

template <typename Operation>
std::optional<std::string> failureOf(Operation&& operation, const char* genericReason) {
    try {
        operation();
        return std::nullopt;
    } catch (const UpdateFailure& failure) {
        return failure.reason;
    } catch (...) {
        return genericReason;
    }
}

}  // namespace

const char* InstallRefusalError::what() const noexcept {
    return refusal == InstallRefusal::busy ? "An update is already in progress" : "No update available";
}

UpdateService::UpdateService(Parts parts)
    : current_(AgentVersion::parse(parts.currentVersion)),
      platform_(std::move(parts.platform)),
      publicKey_(parts.publicKey),
      fetcher_(std::move(parts.fetcher)),
      downloader_(std::move(parts.downloader)),
      verifier_(std::move(parts.verifier)),
      installer_(std::move(parts.installer)),
      sleep_(parts.sleep ? std::move(parts.sleep) : Sleep(steadySleep)),
      automaticChecks_(parts.automaticChecks ? std::move(parts.automaticChecks) : [] { return true; }) {
    state_.version = std::move(parts.currentVersion);
}

UpdateService::~UpdateService() {
    stop();
    std::jthread task;
    {
        std::lock_guard hold(lock_);
        task = std::move(installTask_);
    }
    finish(std::move(task));
}

void UpdateService::setOnChange(ChangeCallback callback) {
    std::lock_guard hold(lock_);
    onChange_ = std::move(callback);
}

bool UpdateService::isConfigured() const {
    return publicKey_.has_value() && current_.has_value();
}

UpdateStatus UpdateService::status() const {
    std::lock_guard hold(lock_);
    return state_;
}

void UpdateService::start() {
    std::jthread previous;
    {
        std::lock_guard hold(lock_);
        previous = std::move(scheduler_);
        scheduler_ = std::jthread([this](std::stop_token stop) { schedulerLoop(stop); });
    }
    finish(std::move(previous));
}

void UpdateService::stop() {
    std::jthread previous;
    {
        std::lock_guard hold(lock_);
        previous = std::move(scheduler_);
    }
    finish(std::move(previous));
}

void UpdateService::schedulerLoop(std::stop_token stop) {
    sleep_(initialDelay, stop);
    while (!stop.stop_requested()) {
        if (automaticChecks_()) checkNow(stop);
        sleep_(interval, stop);
    }
}

std::optional<std::string> UpdateService::checkNow(std::stop_token stop) {
    if (!isConfigured()) {
        std::lock_guard hold(lock_);
        if (!loggedMissingKey_) {
            loggedMissingKey_ = true;
            log::info(updatesOffMessage);
        }
        return updatesOffMessage;
    }
    UpdateStatus previous;
    {
        std::lock_guard hold(lock_);
        if (isBusy(state_.state)) return std::nullopt;
        previous = state_;
        state_.state = UpdateState::checking;
        state_.message.reset();
        state_.progress.reset();
    }
    emit();

    UpdateDecision decision;
    try {
        auto data = fetcher_->fetch(stop);
        decision = UpdateDecision::decide(UpdateManifest::verified(data, *publicKey_, platform_), current_);
    } catch (const std::exception& error) {
        return restoreAfterFailedCheck(previous, error.what());
    } catch (...) {
        return restoreAfterFailedCheck(previous, "unknown error");
    }
    {
        std::lock_guard hold(lock_);
        if (state_.state != UpdateState::checking) return std::nullopt;
        switch (decision.kind) {
            case UpdateDecision::Kind::available: state_.state = UpdateState::available; break;
            case UpdateDecision::Kind::upToDate: state_.state = UpdateState::upToDate; break;
            case UpdateDecision::Kind::paused: state_.state = UpdateState::paused; break;
        }
        state_.available = decision.release;
        state_.required = decision.required;
    }
    emit();
    return std::nullopt;
}

std::string UpdateService::restoreAfterFailedCheck(const UpdateStatus& previous, const std::string& why) {
    std::string failure = "Update check failed: " + why;
    log::info(failure);
    {
        std::lock_guard hold(lock_);
        if (state_.state != UpdateState::checking) return failure;
        state_ = previous;
    }
    emit();
    return failure;
}

std::shared_future<void> UpdateService::install() {
    UpdateRelease release;
    {
        std::lock_guard hold(lock_);
        auto state = state_.state;
        if (state == UpdateState::downloading || state == UpdateState::verifying || state == UpdateState::installing) {
            throw InstallRefusalError(InstallRefusal::busy);
        }
        if (!state_.available || state == UpdateState::paused) throw InstallRefusalError(InstallRefusal::noUpdate);
        state_.state = UpdateState::downloading;
        state_.message.reset();
        state_.progress = 0.0;
        release = *state_.available;
    }
    emit();

    auto done = std::make_shared<std::promise<void>>();
    auto handle = done->get_future().share();
    std::jthread previous;
    {
        std::lock_guard hold(lock_);
        previous = std::move(installTask_);
        installTask_ = std::jthread([this, release, done](std::stop_token stop) {
            run(release, stop);
            done->set_value();
        });
    }
    // The earlier install has already failed; its thread is at most finishing its last emit.
    finish(std::move(previous));
    return handle;
}

void UpdateService::run(const UpdateRelease& release, std::stop_token stop) {
    try {
        installer_->preflight();
    } catch (const UpdateFailure& problem) {
        // The reason says the download page is open only when it is.
        bool shown = false;
        try {
            shown = installer_->openDownloadPage();
        } catch (...) {
        }
        fail(shown ? problem.reason : problem.reasonWithoutPage.value_or(problem.reason));
        return;
    } catch (...) {
        fail(installFailedReason);
        return;
    }
    auto archive = download(release, stop);
    if (!archive) return;
    if (!matchesRelease(*archive, release)) {
        fail(downloadMismatchReason);
        removeQuietly(*archive);
        return;
    }
    verifyAndInstall(release, *archive);
    removeQuietly(*archive);
}

std::optional<std::filesystem::path> UpdateService::download(const UpdateRelease& release, std::stop_token stop) {
    std::filesystem::path archive;
    auto progress = [this, total = release.size](std::int64_t bytes) { downloaded(bytes, total); };
    auto reason = failureOf([&] { archive = downloader_->download(release.url, release.size, progress, stop); },
                            downloadFailedReason);
    if (reason) {
        fail(*reason);
        return std::nullopt;
    }
    return archive;
}

void UpdateService::verifyAndInstall(const UpdateRelease& release, const std::filesystem::path& archive) {
    enterStep(UpdateState::verifying);
    std::filesystem::path prepared;
    if (auto reason = failureOf([&] { prepared = verifier_->prepare(archive, release); }, checkFailedReason)) {
        fail(*reason);
        return;
    }
    enterStep(UpdateState::installing);
    if (auto reason = failureOf([&] { installer_->install(prepared); }, installFailedReason)) {
        // The prepared application sits in a staging folder of its own.
        removeQuietly(prepared.parent_path());
        fail(*reason);
    }
}

void UpdateService::enterStep(UpdateState state) {
    {
        std::lock_guard hold(lock_);
        state_.state = state;
        state_.progress.reset();
        state_.message.reset();
    }
    emit();
}

void UpdateService::fail(const std::string& reason) {
    log::error("Update failed: " + reason);
    {
        std::lock_guard hold(lock_);
        state_.state = UpdateState::failed;
        state_.progress.reset();
        state_.message = "Update failed: " + reason;
    }
    emit();
}

void UpdateService::downloaded(std::int64_t bytes, std::int64_t total) {
    auto percent = std::clamp<std::int64_t>(bytes * kWholePercent / std::max<std::int64_t>(total, 1), 0, kWholePercent);
    double fraction = static_cast<double>(percent) / kWholePercent;
    {
        std::lock_guard hold(lock_);
        if (state_.state != UpdateState::downloading || state_.progress == fraction) return;
        state_.progress = fraction;
    }
    emit();
}

void UpdateService::emit() {
    UpdateStatus snapshot;
    ChangeCallback callback;
    {
        std::lock_guard hold(lock_);
        snapshot = state_;
        callback = onChange_;
    }
    if (callback) callback(snapshot);
}

}  // namespace kx
