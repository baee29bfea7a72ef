#include "daemon/UpdateCommand.h"

#include <optional>
#include <thread>

#include "daemon/ControlClient.h"

namespace kx {

namespace {

double processOf(const ControlReply& reply) {
    if (!reply.data.isObject()) return -1;
    auto pid = reply.data.asObject().find("pid");
    return pid != reply.data.asObject().end() && pid->second.isNumber() ? pid->second.asNumber() : -1;
}

std::string field(const ControlReply& reply, const std::string& key) {
    if (!reply.data.isObject()) return {};
    auto value = reply.data.asObject().find(key);
    return value != reply.data.asObject().end() && value->second.isString() ? value->second.asString() : std::string();
}

// The agent's reply, or absent while none answers (the old one has quit, the new one is starting).
std::optional<ControlReply> poll(const std::filesystem::path& dataFolder) {
    try {
        auto reply = ControlClient::send(dataFolder, {"update", "status"});
        if (reply.ok) return reply;
    } catch (const ControlError&) {
    }
    return std::nullopt;
}

}  // namespace

int runUpdateCommand(const std::filesystem::path& dataFolder, std::ostream& out, bool overwrite) {
    auto started = ControlClient::send(dataFolder, {"update"});
    if (!started.ok) throw ControlError(started.error);
    out << started.text << std::flush;
    const double oldProcess = processOf(started);
    auto deadline = std::chrono::steady_clock::now() + updateCommandDownloadLimit;
    bool swapping = false;
    std::string shown;
    // Ends the progress line before any other text.
    auto endProgress = [&]() -> std::ostream& {
        if (overwrite && !shown.empty()) out << "\n";
        return out;
    };
    while (std::chrono::steady_clock::now() < deadline) {
        auto reply = poll(dataFolder);
        // A failed download or install, or the previous version put back by the swap.
        if (reply && field(*reply, "state") == "failed") {
            endProgress() << field(*reply, "message") << "\n";
            return 1;
        }
        // The agent the swap started, running the new version.
        if (reply && processOf(*reply) != oldProcess) {
            endProgress() << "Kestrix " << field(*reply, "version") << " is running.\n";
            return 0;
        }
        if (!swapping && (!reply || field(*reply, "state") == "installing")) {
            swapping = true;
            deadline = std::chrono::steady_clock::now() + updateCommandSwapLimit;
        }
        if (reply && reply->text != shown) {
            shown = reply->text;
            if (overwrite)
                out << "\r" << shown << "\033[K" << std::flush;
            else
                out << shown << "\n" << std::flush;
        }
        std::this_thread::sleep_for(updateCommandPollInterval);
    }
    endProgress() << "The agent did not come back after the update; its log is in " << dataFolder.string() << "\n";
    return 1;
}

}  // namespace kx
