#include "agent/sessions/UserPath.h"

#include <cstdlib>
#include <exception>

#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/support/ChildProcess.h"
#include "agent/support/UTF8.h"

namespace kx {

namespace {

constexpr const char* kWhitespace = " \t\n\r\v\f";

std::string trimmed(const std::string& text) {
    auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string::npos) return {};
    auto last = text.find_last_not_of(kWhitespace);
    return text.substr(first, last - first + 1);
}

}  // namespace

const std::string& UserPath::value() {
    // A function-local static: the first caller runs the shell, concurrent callers wait for it.
    static const std::string path = [] {
        const char* shell = std::getenv("SHELL");
        return discover(shell && *shell ? shell : kDefaultShell, kTimeLimit);
    }();
    return path;
}

std::string UserPath::discover(const std::string& shell, std::chrono::milliseconds limit) {
    if (!SystemPermissionProbe::firstExecutable({shell})) return kFallback;
    ChildProcess::Result result;
    try {
        result = ChildProcess::run(shell, {"-ilc", "printf %s \"$PATH\""},
                                   {.timeLimit = limit, .discardStandardError = true});
    } catch (const std::exception&) {
        return kFallback;
    }
    if (result.timedOut || !isValidUTF8(result.standardOutput)) return kFallback;
    auto path = trimmed(result.standardOutput);
    // A greeting or other start-up output means the text is not just the PATH.
    if (path.empty() || path.find('\n') != std::string::npos) return kFallback;
    return path;
}

}  // namespace kx
