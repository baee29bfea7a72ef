#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agent/pairing/PairedDevice.h"
#include "agent/support/StateFile.h"

namespace kx {

// Every phone paired with this computer, kept in memory and mirrored to "devices.json".
// Safe from any thread. Entries of the file that cannot be decoded are skipped and logged, and the
// original is kept aside before it is first rewritten (see StateFile). A change that cannot be
// saved stays in memory and is reported by saveError(), except a new pairing, which is refused.
class DeviceRegistry {
public:
    using RevokeHandler = std::function<void(const std::string& deviceID)>;
    static constexpr const char* fileName = "devices.json";

    // The data folder's "devices.json"; absent when there is no data folder (memory only).
    static std::optional<std::filesystem::path> defaultURL();

    // Loads the file at `url` at once; without a location the registry lives in memory only.
    explicit DeviceRegistry(std::optional<std::filesystem::path> url = std::nullopt);

    std::optional<PairedDevice> device(const std::string& id) const;
    // Newest pairing first.
    std::vector<PairedDevice> all() const;

    // Inserts or replaces the entry with the same id once the file holding it is saved; false, with
    // the registry unchanged, when it cannot be saved. Without a file it always succeeds.
    bool registerDevice(const PairedDevice& device);
    // Sets when the device last connected, in memory: save() writes it, so that a caller can write
    // at a pace of its own.
    void touch(const std::string& id, PairedDevice::TimePoint at);
    // Writes the file when memory holds a change the file does not.
    void save();
    // Whether an entry was removed; only then is the file rewritten and onRevoke called.
    bool revoke(const std::string& id);

    // Called after a device was removed, without the registry's lock held, on the revoking thread.
    void setOnRevoke(RevokeHandler handler);

    const std::optional<std::filesystem::path>& url() const { return url_; }
    // Why the last write of the file failed; absent once one succeeded. A revoke made meanwhile
    // holds in memory only: after a restart the phone would be paired again.
    std::optional<std::string> saveError() const;

private:
    void load();

    const std::optional<std::filesystem::path> url_;
    std::optional<StateFile> file_;  // present with url_
    mutable std::mutex lock_;
    std::map<std::string, PairedDevice> devices_;
    RevokeHandler onRevoke_;
    std::uint64_t version_ = 0;  // bumped under lock_ by every change

    // Serialises writers so that the newest snapshot always lands last; never taken under lock_.
    std::mutex writeLock_;
    std::optional<std::uint64_t> writtenVersion_;  // guarded by writeLock_
};

}  // namespace kx
