#include "agent/sessions/TmuxRunner.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "agent/sessions/UserPath.h"
#include "agent/support/ChildProcess.h"
#include "agent/support/PlatformText.h"
#include "agent/support/UTF8.h"
#include "protocol/WireError.h"

extern char** environ;

namespace kx {

namespace {

constexpr const char* kTerminalType = "xterm-256color";
constexpr const char* kUTF8Flag = "-u";
constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_CTYPE", "LANG"};

bool namesUTF8(std::string_view locale) {
    auto contains = [&](std::string_view word) {
        return std::search(locale.begin(), locale.end(), word.begin(), word.end(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == b;
               }) != locale.end();
    };
    return contains("utf-8") || contains("utf8");
}

// The shells tmux starts inherit this environment, and tmux speaks UTF-8 to them: their character
// type becomes UTF-8 when it is not already. The first variable set wins, as in setlocale.
void requireUTF8Locale(std::map<std::string, std::string>& environment) {
    for (const char* name : kLocaleVariables) {
        auto found = environment.find(name);
        if (found == environment.end() || found->second.empty()) continue;
        if (namesUTF8(found->second)) return;
        if (std::string_view(name) == "LC_ALL") {
            found->second = TmuxRunner::utf8Locale;
            return;
        }
        break;
    }
    environment.insert_or_assign("LC_CTYPE", TmuxRunner::utf8Locale);
}

std::map<std::string, std::string> processEnvironment() {
    std::map<std::string, std::string> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text(*entry);
        auto equals = text.find('=');
        if (equals != std::string::npos) result.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return result;
}

}  // namespace

TmuxRunner::TmuxRunner(Lookup lookup, std::map<std::string, std::string> environment,
                       std::chrono::milliseconds timeLimit)
    : lookup_(std::move(lookup)), environment_(processEnvironment()), timeLimit_(timeLimit) {
    for (auto& [name, value] : environment) environment_.insert_or_assign(name, std::move(value));
    environment_.insert_or_assign("TERM", kTerminalType);
    requireUTF8Locale(environment_);
}

std::vector<std::string> TmuxRunner::childEnvironment() const {
    auto values = environment_;
    values.insert_or_assign("PATH", UserPath::value());
    std::vector<std::string> result;
    result.reserve(values.size());
    for (const auto& [name, value] : values) result.push_back(name + "=" + value);
    return result;
}

std::string TmuxRunner::run(const std::vector<std::string>& arguments, bool allowFailure) const {
    auto path = lookup_();
    if (!path)
        throw WireError(ErrorCode::unsupported, "tmux is not installed",
                        JSONObject{{"remediation", std::string(PlatformText::tmuxInstallCommand)}});
    std::vector<std::string> withFlag{kUTF8Flag};
    withFlag.insert(withFlag.end(), arguments.begin(), arguments.end());
    ChildProcess::Result result;
    try {
        result = ChildProcess::run(*path, withFlag, {.environment = childEnvironment(), .timeLimit = timeLimit_});
    } catch (const std::system_error&) {
        throw WireError(ErrorCode::internal, "Could not start tmux");
    }
    if (result.timedOut) throw WireError(ErrorCode::timeout, "The terminal did not respond");
    if (!result.succeeded() && !allowFailure) throw WireError(ErrorCode::targetNotFound, "tmux command failed");
    return repairUTF8(result.standardOutput);
}

}  // namespace kx
