#include "agent/sessions/TmuxRunner.h"

#include <system_error>

#include "agent/permissions/Requirement.h"
#include "agent/sessions/UserPath.h"
#include "agent/support/ChildProcess.h"
#include "agent/support/UTF8.h"
#include "protocol/WireError.h"

extern char** environ;

namespace kx {

namespace {

constexpr const char* kTerminalType = "xterm-256color";

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

TmuxRunner::TmuxRunner(Lookup lookup, std::map<std::string, std::string> environment)
    : lookup_(std::move(lookup)), environment_(processEnvironment()) {
    for (auto& [name, value] : environment) environment_.insert_or_assign(name, std::move(value));
    environment_.insert_or_assign("TERM", kTerminalType);
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
                        JSONObject{{"remediation", std::string(kTmuxInstallCommand)}});
    ChildProcess::Result result;
    try {
        result = ChildProcess::run(*path, arguments, {.environment = childEnvironment()});
    } catch (const std::system_error&) {
        throw WireError(ErrorCode::internal, "Could not start tmux");
    }
    if (!result.succeeded() && !allowFailure) throw WireError(ErrorCode::targetNotFound, "tmux command failed");
    return repairUTF8(result.standardOutput);
}

}  // namespace kx
