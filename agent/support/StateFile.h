#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// A file of the agent's state ("devices.json", "commands.json"): read once at start, rewritten after changes.
// Reading never blocks and is bounded. A file that could not be read whole (unreadable, not a regular file, not
// decodable, or with entries that had to be skipped) is kept aside under a dated name ("devices.json.unreadable-
// 20261206T101500Z", mode 0600) before the first write replaces it, so the user's data is never silently lost.
// Every problem is logged; the last write's failure stays at hand until a write succeeds. Safe from any thread.
class StateFile {
public:
    static constexpr std::size_t kMaxBytes = 16 * 1024 * 1024;
    static constexpr const char* kAsideMarker = ".unreadable-";
    static constexpr mode_t kAsideMode = 0600;
    // Further names tried ("...Z-2", "...Z-3") when one is taken by a file kept aside in the same second.
    static constexpr int kAsideNames = 100;
    // Problems logged one by one; the rest are only counted.
    static constexpr std::size_t kLoggedProblems = 20;

    StateFile(std::filesystem::path path, mode_t mode);

    // The file's text; absent when there is none, or when it cannot be read (then logged and marked damaged).
    std::optional<std::string> read();
    // Logs a part of the file that could not be used and marks the file damaged.
    void reportProblem(const std::string& problem);
    // Writes atomically, first keeping a damaged original aside; false (logged) when either fails.
    bool write(std::string_view contents);
    // Why the last write failed; absent once one succeeded (and before any).
    std::optional<std::string> saveError() const;

    const std::filesystem::path& path() const { return path_; }

private:
    bool keepAside();
    void setSaveError(std::optional<std::string> error);

    const std::filesystem::path path_;
    const mode_t mode_;
    mutable std::mutex lock_;  // guards the fields below, never held while writing
    bool damaged_ = false;
    std::size_t problems_ = 0;
    std::optional<std::string> saveError_;
    std::mutex writeLock_;  // one write (and keeping aside) at a time
};

}  // namespace kx
