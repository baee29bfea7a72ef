#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/sessions/SavedCommand.h"
#include "agent/sessions/SessionTemplate.h"
#include "agent/support/StateFile.h"

namespace kx {

// The user's saved commands and session templates, kept in memory and in "commands.json".
// Entries of the file that cannot be decoded are skipped and logged, and the original is kept
// aside before it is first rewritten (see StateFile). Memory is authoritative: a failed write
// changes nothing in memory and is reported by saveError(). Safe from any thread.
class CommandRegistry {
public:
    static constexpr const char* kFileName = "commands.json";

    // Reads the file at `url` (absent: memory only); seeds the default templates when asked and
    // none were loaded.
    CommandRegistry(std::optional<std::filesystem::path> url, bool seedDefaults);

    // "commands.json" in the agent's data folder; absent when there is none.
    static std::optional<std::filesystem::path> defaultURL();
    // prefix + "_" + base64url of 16 random bytes (22 characters).
    static std::string newID(std::string_view prefix);

    // Sorted by name in code-point order.
    std::vector<SavedCommand> allCommands() const;
    std::vector<SessionTemplate> templates() const;

    std::optional<SavedCommand> command(const std::string& id) const;
    std::optional<SessionTemplate> sessionTemplate(const std::string& id) const;

    void upsert(const SavedCommand& command);
    void upsert(const SessionTemplate& sessionTemplate);
    // Templates are never removed. The file is rewritten even when nothing was removed.
    void remove(const std::string& id);

    // Why the last write of the file failed; absent once one succeeded.
    std::optional<std::string> saveError() const;

private:
    void load();
    void seed();
    void persist() const;

    mutable std::mutex lock_;
    std::map<std::string, SavedCommand> commands_;
    std::map<std::string, SessionTemplate> sessionTemplates_;
    mutable std::optional<StateFile> file_;  // absent: memory only
    // Held across a whole file write (never together with lock_ while writing), so that writes
    // happen one at a time and each writes the state as it is when its turn comes: a slow writer
    // can never put an older state over a newer one.
    mutable std::mutex writeLock_;
};

}  // namespace kx
