#include "daemon/UpdateControlCommands.h"

#include <unistd.h>

#include <future>
#include <thread>

#include "agent/update/UpdateMenuText.h"
#include "agent/update/UpdateService.h"
#include "daemon/ControlServer.h"
#include "daemon/StatusReport.h"

namespace kx {

namespace {

constexpr const char* updatesOff =
    "updates are off: this build has no update host or no update key (see KX_UPDATE_BASE_URL, --update-url and "
    "KX_UPDATE_PUBLIC_KEY_FILE)";

std::string describe(const UpdateStatus& status) {
    UpdateMenuText menu(status);
    switch (status.state) {
        case UpdateState::available: {
            std::string text = *menu.headline() + "\n";
            for (const auto& note : menu.notes()) text += "  - " + note + "\n";
            return text;
        }
        case UpdateState::upToDate: return "Kestrix " + status.version + " is up to date.\n";
        case UpdateState::paused: return "The publisher has paused updates.\n";
        case UpdateState::checking: return "A check is already running; `kestrixd status` shows its result.\n";
        case UpdateState::downloading:
        case UpdateState::verifying:
        case UpdateState::installing: return "An update is being installed: " + *menu.detail() + "\n";
        case UpdateState::idle:
        case UpdateState::failed: break;
    }
    return "The check did not succeed; the agent's log says why.\n";
}

ControlReply checkForUpdates(UpdateService& updates) {
    if (!updates.isConfigured()) throw ControlError(updatesOff);
    std::promise<void> done;
    auto finished = done.get_future();
    std::optional<std::string> failure;
    std::jthread check([&](std::stop_token stop) {
        failure = updates.checkNow(stop);
        done.set_value();
    });
    // Past the wait the transfer is aborted, and the check puts the earlier status back.
    bool timedOut = finished.wait_for(updateCheckWait) != std::future_status::ready;
    if (timedOut) check.request_stop();
    check.join();
    // The status still shows the previous check's result: reporting it would pass a failed check off
    // as a good one.
    if (failure) {
        if (timedOut)
            throw ControlError("Update check failed: the update host did not answer within " +
                               std::to_string(updateCheckWait.count()) + " seconds");
        throw ControlError(*failure);
    }
    auto status = updates.status();
    return ControlReply::success(describe(status), status.statusResult());
}

// The status as the phones read it, with this process's id so that `kestrixd update` can tell the
// agent that comes back after the swap from the one that started it.
JSONValue statusData(const UpdateService& updates) {
    auto data = updates.status().statusResult();
    data["pid"] = static_cast<std::int64_t>(::getpid());
    return data;
}

ControlReply startUpdate(UpdateService& updates) {
    if (!updates.isConfigured()) throw ControlError(updatesOff);
    try {
        updates.install();
    } catch (const InstallRefusalError& refused) {
        if (refused.refusal == InstallRefusal::noUpdate)
            throw ControlError("No update available; `kestrixd check-update` looks for one");
        throw ControlError(refused.what());
    }
    return ControlReply::success("Installing Kestrix " + updates.status().available->version.description() + "\n",
                                 statusData(updates));
}

ControlReply updateProgress(const UpdateService& updates) {
    auto status = updates.status();
    UpdateMenuText menu(status);
    std::string text = menu.detail().value_or(std::string(rawValue(status.state)));
    return ControlReply::success(text, statusData(updates));
}

std::string statusLine(const UpdateService& updates) {
    if (!updates.isConfigured()) return "updates: off";
    auto status = updates.status();
    const UpdateMenuText menu(status);
    std::string line = "updates: " + std::string(rawValue(status.state));
    if (auto headline = menu.headline()) line += " (" + *headline + ")";
    if (auto detail = menu.detail()) line += ": " + *detail;
    return line;
}

}  // namespace

void registerUpdateControlCommands(ControlServer& control, UpdateService& updates, StatusReport& status) {
    control.addCommand("check-update", "check-update", "check the update host for a newer Kestrix now",
                       [&updates](const std::vector<std::string>& arguments) {
                           if (!arguments.empty()) throw ControlError("usage: kestrixd check-update");
                           return checkForUpdates(updates);
                       });
    control.addCommand("update", "update", "download and install the offered update, showing its progress",
                       [&updates](const std::vector<std::string>& arguments) {
                           if (!arguments.empty()) throw ControlError("usage: kestrixd update");
                           return startUpdate(updates);
                       });
    control.addCommand("update status", "update status", "the update's state and progress, as JSON with --json",
                       [&updates](const std::vector<std::string>&) { return updateProgress(updates); });
    status.add([&updates] { return std::vector<std::string>{statusLine(updates)}; });
}

}  // namespace kx
