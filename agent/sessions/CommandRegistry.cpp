#include "agent/sessions/CommandRegistry.h"

#include <pwd.h>
#include <unistd.h>

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "agent/sessions/CommandFile.h"
#include "agent/support/DataDirectory.h"
#include "agent/support/UTF8.h"
#include "protocol/Base64URL.h"

namespace kx {

namespace {

constexpr std::size_t kIDRandomBytes = 16;
// The file may hold commands with secrets in them: owner only.
constexpr mode_t kFileMode = 0600;

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

template <typename Value>
std::vector<Value> sortedByName(const std::map<std::string, Value>& values) {
    std::vector<Value> result;
    result.reserve(values.size());
    for (const auto& [id, value] : values) result.push_back(value);
    std::stable_sort(result.begin(), result.end(), [](const Value& a, const Value& b) { return a.name < b.name; });
    return result;
}

template <typename Value>
std::optional<Value> find(const std::map<std::string, Value>& values, const std::string& id) {
    auto it = values.find(id);
    if (it == values.end()) return std::nullopt;
    return it->second;
}

}  // namespace

CommandRegistry::CommandRegistry(std::optional<std::filesystem::path> url, bool seedDefaults) {
    if (url) file_.emplace(std::move(*url), kFileMode);
    load();
    bool empty;
    {
        std::lock_guard guard(lock_);
        empty = sessionTemplates_.empty();
    }
    if (seedDefaults && empty) seed();
}

std::optional<std::filesystem::path> CommandRegistry::defaultURL() {
    auto folder = defaultDataDirectory();
    if (!folder) return std::nullopt;
    return *folder / kFileName;
}

std::string CommandRegistry::newID(std::string_view prefix) {
    if (sodium_init() < 0) throw std::runtime_error("no random source");
    std::array<std::uint8_t, kIDRandomBytes> bytes;
    randombytes_buf(bytes.data(), bytes.size());
    return std::string(prefix) + "_" + base64URLEncode(bytes);
}

void CommandRegistry::load() {
    if (!file_) return;
    auto text = file_->read();
    if (!text) return;
    std::vector<std::string> problems;
    auto file = CommandFile::decodeReadable(*text, problems);
    for (const auto& problem : problems) file_->reportProblem(problem);
    std::lock_guard guard(lock_);
    // Of duplicated identifiers the last one in the file is kept.
    for (auto& c : file.commands) commands_.insert_or_assign(c.id, std::move(c));
    for (auto& t : file.templates) sessionTemplates_.insert_or_assign(t.id, std::move(t));
}

void CommandRegistry::seed() {
    // The folder's name travels in JSON to the phone and into the file.
    const auto home = repairUTF8(homeDirectory());
    {
        std::lock_guard guard(lock_);
        for (auto t : {SessionTemplate{newID("t"), "Shell", "terminal", home, ""},
                       SessionTemplate{newID("t"), "Claude Code", "sparkles", home, "claude"}})
            sessionTemplates_.insert_or_assign(t.id, t);
    }
    persist();
}

void CommandRegistry::persist() const {
    if (!file_) return;
    std::lock_guard writing(writeLock_);
    CommandFile file;
    {
        std::lock_guard guard(lock_);
        for (const auto& [id, c] : commands_) file.commands.push_back(c);
        for (const auto& [id, t] : sessionTemplates_) file.templates.push_back(t);
    }
    file_->write(file.encode());  // logs a failure and keeps it for saveError()
}

std::optional<std::string> CommandRegistry::saveError() const {
    return file_ ? file_->saveError() : std::nullopt;
}

std::vector<SavedCommand> CommandRegistry::allCommands() const {
    std::lock_guard guard(lock_);
    return sortedByName(commands_);
}

std::vector<SessionTemplate> CommandRegistry::templates() const {
    std::lock_guard guard(lock_);
    return sortedByName(sessionTemplates_);
}

std::optional<SavedCommand> CommandRegistry::command(const std::string& id) const {
    std::lock_guard guard(lock_);
    return find(commands_, id);
}

std::optional<SessionTemplate> CommandRegistry::sessionTemplate(const std::string& id) const {
    std::lock_guard guard(lock_);
    return find(sessionTemplates_, id);
}

void CommandRegistry::upsert(const SavedCommand& command) {
    {
        std::lock_guard guard(lock_);
        commands_.insert_or_assign(command.id, command);
    }
    persist();
}

void CommandRegistry::upsert(const SessionTemplate& sessionTemplate) {
    {
        std::lock_guard guard(lock_);
        sessionTemplates_.insert_or_assign(sessionTemplate.id, sessionTemplate);
    }
    persist();
}

void CommandRegistry::remove(const std::string& id) {
    {
        std::lock_guard guard(lock_);
        commands_.erase(id);
    }
    persist();
}

}  // namespace kx
