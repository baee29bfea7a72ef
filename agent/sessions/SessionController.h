#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/sessions/CommandRegistry.h"
#include "agent/sessions/TmuxRunner.h"

namespace kx {

// Drives terminal sessions through tmux. Only sessions whose names carry `prefix` are created,
// listed or touched, so the user's other tmux sessions stay invisible to the phone. tmux is the
// source of truth; the controller keeps no session state and has no lock of its own. Every
// operation may throw WireError, which the session methods pass on unchanged.
class SessionController {
public:
    struct Session {
        std::string id;      // full tmux session name, with the prefix
        std::string name;    // without the prefix
        double created = 0;  // seconds since 1970
        std::int64_t cols = 0;
        std::int64_t rows = 0;
        bool alive = true;

        friend bool operator==(const Session&, const Session&) = default;
    };

    static constexpr std::string_view prefix = "kx-";
    // Client key name → tmux key name; nothing else can be sent as a key.
    static const std::map<std::string, std::string>& allowedKeys();

    SessionController(std::shared_ptr<const CommandRegistry> registry, TmuxRunner::Lookup tmuxPath,
                      std::map<std::string, std::string> environment = {},
                      std::chrono::milliseconds tmuxTimeLimit = TmuxRunner::defaultTimeLimit);

    bool isAvailable() const { return tmux_.isAvailable(); }

    std::vector<Session> list() const;
    // Returns the new session's id.
    std::string create(const std::string& templateID, const std::optional<std::string>& name) const;
    void kill(const std::string& id) const;
    std::string capture(const std::string& id, std::int64_t lines) const;
    // A command marked dangerous is refused with "needs_confirmation" and handed to the
    // confirmation handler, if there is one, so the person at the computer can decide.
    void run(const std::string& commandID, const std::string& sessionID) const;
    // Runs a saved command, dangerous or not: the person at the computer confirmed it.
    void runConfirmed(const std::string& commandID, const std::string& sessionID) const;
    // Told (on the requesting thread) of each dangerous command a phone asked to run. Set before use.
    using DangerousCommandHandler = std::function<void(const SavedCommand& command, const std::string& sessionID)>;
    void setDangerousCommandHandler(DangerousCommandHandler handler) { onDangerous_ = std::move(handler); }
    void sendKey(const std::string& key, const std::string& sessionID) const;
    void sendText(const std::string& text, const std::string& sessionID) const;
    void resize(const std::string& id, std::int64_t cols, std::int64_t rows) const;

    // The prefix, then 1 to 61 letters, digits, "-" or "_" (64 characters at most in all). Only
    // letters the C library knows count: tmux stores a session name with any other character in
    // escaped form, and the id would then name no session.
    static bool isValidSessionID(std::string_view id);
    // Lower-cased, every other character than such a letter or digit made "-", cut to 40
    // characters, "-" trimmed from both ends; "session" when nothing remains.
    static std::string sanitise(std::string_view name);
    // Parses list-sessions output, keeping only lines that name our sessions.
    static std::vector<Session> parseSessions(std::string_view output);

private:
    std::string freeID(const std::string& base) const;
    SavedCommand savedCommand(const std::string& commandID, const std::string& sessionID) const;
    void type(const SavedCommand& saved, const std::string& sessionID) const;

    std::shared_ptr<const CommandRegistry> registry_;
    TmuxRunner tmux_;
    DangerousCommandHandler onDangerous_;
};

}  // namespace kx
