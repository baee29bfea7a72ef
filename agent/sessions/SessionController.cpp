#include "agent/sessions/SessionController.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <locale.h>
#include <wchar.h>

#include <algorithm>
#include <charconv>
#include <set>

#include "agent/support/GraphemeCount.h"
#include "agent/support/PlatformText.h"
#include "protocol/WireError.h"

namespace kx {

namespace {

constexpr std::size_t kMaxIDLength = 64;
constexpr std::size_t kMaxBaseLength = 40;
constexpr const char* kDefaultBase = "session";
constexpr const char* kListFormat = "#{session_created}|#{window_width}|#{window_height}|#{session_name}";
constexpr std::size_t kListFields = 4;
constexpr std::int64_t kDefaultCols = 80, kDefaultRows = 24;
constexpr std::int64_t kMinLines = 1, kMaxLines = 2000;
constexpr std::int64_t kMinCols = 20, kMaxCols = 500;
constexpr std::int64_t kMinRows = 5, kMaxRows = 200;
constexpr std::size_t kMaxTextLength = 4096;
constexpr unsigned char kFirstPrintable = 0x20, kDelete = 0x7F;
constexpr int kFirstSuffix = 2;
constexpr UChar32 kFirstNonASCII = 0x80;

// tmux resolves a bare target by exact name, then by unique prefix, then as a pattern: "kx-shell"
// would reach "kx-shell-2" once kx-shell is gone. "=" asks for the exact session, and the ":"
// makes the same text valid where tmux expects a window or a pane.
std::string target(const std::string& id) {
    return "=" + id + ":";
}

void requireSession(const std::string& id) {
    if (!SessionController::isValidSessionID(id)) throw WireError(ErrorCode::targetNotFound, "No such session");
}

// tmux escapes a character in a session name when the C library's UTF-8 locale gives it no
// width, as for letters of a Unicode version newer than the library's. Without such a locale
// only ASCII is safe.
bool tmuxKeepsAsIs(UChar32 c) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, TmuxRunner::utf8Locale, locale_t{});
    if (c < kFirstNonASCII) return true;
    if (!utf8) return false;
    locale_t previous = uselocale(utf8);
    int width = wcwidth(static_cast<wchar_t>(c));
    uselocale(previous);
    return width >= 0;
}

bool isLetterOrDigit(UChar32 c) {
    return (u_isalpha(c) || u_isdigit(c)) && tmuxKeepsAsIs(c);
}

void requireOneArgument(std::string_view text) {
    if (!TmuxRunner::fitsOneArgument(text)) throw WireError::invalidParams("Text is too long");
}

// Calls `visit` with each code point; false when the text is not UTF-8.
template <typename Visit>
bool forEachCodePoint(std::string_view text, Visit visit) {
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(data, i, length, c);
        if (c < 0) return false;
        visit(c);
    }
    return true;
}

void appendCodePoint(std::string& out, UChar32 c) {
    char buffer[U8_MAX_LENGTH];
    int32_t length = 0;
    U8_APPEND_UNSAFE(buffer, length, c);
    out.append(buffer, static_cast<std::size_t>(length));
}

template <typename Number>
std::optional<Number> parseWhole(std::string_view text) {
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    while (fields.size() + 1 < kListFields) {
        auto bar = line.find('|');
        if (bar == std::string_view::npos) break;
        fields.push_back(line.substr(0, bar));
        line.remove_prefix(bar + 1);
    }
    fields.push_back(line);  // the session name may itself contain "|"
    return fields;
}

std::optional<SessionController::Session> parseLine(std::string_view line) {
    auto fields = splitFields(line);
    if (fields.size() < kListFields) return std::nullopt;
    std::string id(fields[3]);
    if (!SessionController::isValidSessionID(id)) return std::nullopt;
    SessionController::Session session;
    session.name = id.substr(SessionController::prefix.size());
    session.id = std::move(id);
    session.created = parseWhole<double>(fields[0]).value_or(0);
    session.cols = parseWhole<std::int64_t>(fields[1]).value_or(kDefaultCols);
    session.rows = parseWhole<std::int64_t>(fields[2]).value_or(kDefaultRows);
    return session;
}

}  // namespace

const std::map<std::string, std::string>& SessionController::allowedKeys() {
    static const std::map<std::string, std::string> keys{
        {"enter", "Enter"}, {"escape", "Escape"}, {"tab", "Tab"},    {"up", "Up"},      {"down", "Down"},
        {"left", "Left"},   {"right", "Right"},   {"ctrl-c", "C-c"}, {"ctrl-d", "C-d"}, {"ctrl-z", "C-z"},
        {"ctrl-l", "C-l"},  {"y", "y"},           {"n", "n"}};
    return keys;
}

SessionController::SessionController(std::shared_ptr<const CommandRegistry> registry, TmuxRunner::Lookup tmuxPath,
                                     std::map<std::string, std::string> environment,
                                     std::chrono::milliseconds tmuxTimeLimit)
    : registry_(std::move(registry)), tmux_(std::move(tmuxPath), std::move(environment), tmuxTimeLimit) {}

std::vector<SessionController::Session> SessionController::list() const {
    // With no tmux server running list-sessions fails: that is an empty list.
    return parseSessions(tmux_.run({"list-sessions", "-F", kListFormat}, true));
}

std::vector<SessionController::Session> SessionController::parseSessions(std::string_view output) {
    std::vector<Session> sessions;
    while (!output.empty()) {
        auto newline = output.find('\n');
        auto line = output.substr(0, newline);
        output.remove_prefix(newline == std::string_view::npos ? output.size() : newline + 1);
        if (line.empty()) continue;
        if (auto session = parseLine(line)) sessions.push_back(std::move(*session));
    }
    return sessions;
}

std::string SessionController::create(const std::string& templateID, const std::optional<std::string>& name) const {
    auto found = registry_->sessionTemplate(templateID);
    if (!found) throw WireError(ErrorCode::targetNotFound, "No such session template");
    auto id = freeID(sanitise(name.value_or(found->name)));
    if (!isValidSessionID(id)) throw WireError::invalidParams("Invalid session name");

    std::vector<std::string> arguments{"new-session", "-d", "-s", id, "-c", found->cwd};
    if (!found->program.empty()) arguments.push_back(found->program);
    tmux_.run(arguments);
    return id;
}

std::string SessionController::freeID(const std::string& base) const {
    std::set<std::string> taken;
    try {
        for (auto& session : list()) taken.insert(std::move(session.id));
    } catch (const WireError&) {
        // Creating will report what is wrong with tmux.
    }
    const std::string stem = std::string(prefix) + base;
    std::string candidate = stem;
    for (int n = kFirstSuffix; taken.count(candidate); ++n) candidate = stem + "-" + std::to_string(n);
    return candidate;
}

void SessionController::kill(const std::string& id) const {
    requireSession(id);
    tmux_.run({"kill-session", "-t", target(id)});
}

std::string SessionController::capture(const std::string& id, std::int64_t lines) const {
    requireSession(id);
    lines = std::clamp(lines, kMinLines, kMaxLines);
    return tmux_.run({"capture-pane", "-p", "-e", "-t", target(id), "-S", "-" + std::to_string(lines)});
}

void SessionController::resize(const std::string& id, std::int64_t cols, std::int64_t rows) const {
    requireSession(id);
    cols = std::clamp(cols, kMinCols, kMaxCols);
    rows = std::clamp(rows, kMinRows, kMaxRows);
    tmux_.run({"resize-window", "-t", target(id), "-x", std::to_string(cols), "-y", std::to_string(rows)});
}

void SessionController::sendKey(const std::string& key, const std::string& sessionID) const {
    requireSession(sessionID);
    auto mapped = allowedKeys().find(key);
    if (mapped == allowedKeys().end()) throw WireError::invalidParams("Key not permitted");
    tmux_.run({"send-keys", "-t", target(sessionID), mapped->second});
}

void SessionController::sendText(const std::string& text, const std::string& sessionID) const {
    requireSession(sessionID);
    if (text.empty()) return;
    if (exceedsGraphemes(text, kMaxTextLength)) throw WireError::invalidParams("Text is too long");
    requireOneArgument(text);
    // In UTF-8 these bytes only ever stand for themselves, so a byte test finds every such scalar.
    bool control = std::any_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return (byte < kFirstPrintable && c != '\t') || byte == kDelete;
    });
    if (control) throw WireError::invalidParams("Control characters are not permitted");
    tmux_.run({"send-keys", "-t", target(sessionID), "-l", "--", text});
}

SavedCommand SessionController::savedCommand(const std::string& commandID, const std::string& sessionID) const {
    requireSession(sessionID);
    auto saved = registry_->command(commandID);
    if (!saved) throw WireError(ErrorCode::targetNotFound, "No such saved command");
    requireOneArgument(saved->command);
    return *saved;
}

void SessionController::type(const SavedCommand& saved, const std::string& sessionID) const {
    // "--" keeps a command beginning with "-" from being read as options of send-keys.
    tmux_.run({"send-keys", "-t", target(sessionID), "-l", "--", saved.command});
    tmux_.run({"send-keys", "-t", target(sessionID), "Enter"});
}

void SessionController::run(const std::string& commandID, const std::string& sessionID) const {
    SavedCommand saved = savedCommand(commandID, sessionID);
    if (saved.danger) {
        if (onDangerous_) onDangerous_(saved, sessionID);
        throw WireError(ErrorCode::needsConfirmation, PlatformText::confirmToRun);
    }
    type(saved, sessionID);
}

void SessionController::runConfirmed(const std::string& commandID, const std::string& sessionID) const {
    type(savedCommand(commandID, sessionID), sessionID);
}

bool SessionController::isValidSessionID(std::string_view id) {
    if (id.substr(0, prefix.size()) != prefix) return false;
    std::size_t count = 0;
    bool allowed = true;
    bool wellFormed = forEachCodePoint(id, [&](UChar32 c) {
        ++count;
        allowed = allowed && (isLetterOrDigit(c) || c == '-' || c == '_');
    });
    return wellFormed && allowed && count > prefix.size() && count <= kMaxIDLength;
}

std::string SessionController::sanitise(std::string_view name) {
    std::string out;
    std::size_t count = 0;
    forEachCodePoint(name, [&](UChar32 c) {
        if (count == kMaxBaseLength) return;
        UChar32 lower = u_tolower(c);
        if (isLetterOrDigit(lower))
            appendCodePoint(out, lower);
        else
            out += '-';
        ++count;
    });
    auto first = out.find_first_not_of('-');
    if (first == std::string::npos) return kDefaultBase;
    auto last = out.find_last_not_of('-');
    return out.substr(first, last - first + 1);
}

}  // namespace kx
