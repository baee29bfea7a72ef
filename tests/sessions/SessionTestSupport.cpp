#include "tests/sessions/SessionTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "agent/support/AtomicFile.h"

namespace kx::testing {

JSONObject succeed(const CommandRouter& router, const std::string& method, JSONObject params) {
    auto response = call(router, method, std::move(params));
    EXPECT_EQ(response.ok, true) << method << " failed: " << (response.e ? response.e->msg : "");
    return response.p.value_or(JSONObject{});
}

WireError fail(const CommandRouter& router, const std::string& method, JSONObject params) {
    auto response = call(router, method, std::move(params));
    EXPECT_EQ(response.ok, false) << method << " succeeded";
    return response.e.value_or(WireError{});
}

SessionRig::SessionRig(std::optional<std::string> tmux, std::map<std::string, std::string> environment,
                       std::chrono::milliseconds limit)
    : controller(std::make_shared<SessionController>(
          registry, [tmux] { return tmux; }, std::move(environment), limit)) {
    registerSessionMethods(router, controller, registry);
}

std::string SessionRig::templateID(const std::string& name) const {
    for (const auto& t : registry->templates())
        if (t.name == name) return t.id;
    return {};
}

TmuxStandIn::TmuxStandIn() {
    std::ofstream(path()) << R"SH(#!/bin/sh
[ -f "$DIR/hang" ] && exec sleep 60
{ printf '%s|%s' "$TERM" "$LC_ALL"; for a in "$@"; do printf '\037%s' "$a"; done; echo; } >> "$DIR/log"
[ -f "$DIR/output" ] && cat "$DIR/output"
exit 0
)SH";
    ::chmod(path().c_str(), 0755);
}

void TmuxStandIn::hang() const {
    std::ofstream(folder_ / "hang").flush();
}

void TmuxStandIn::output(const std::string& text) const {
    std::ofstream(folder_ / "output") << text;
}

std::vector<std::vector<std::string>> TmuxStandIn::runs() const {
    std::istringstream lines(readWholeFile(folder_ / "log").value_or(""));
    std::filesystem::remove(folder_ / "log");
    std::vector<std::vector<std::string>> result;
    for (std::string line, field; std::getline(lines, line);) {
        std::istringstream fields(line);
        auto& run = result.emplace_back();
        while (std::getline(fields, field, '\037')) run.push_back(field);
        EXPECT_EQ(run.at(0), "xterm-256color|C.UTF-8");
        EXPECT_EQ(run.at(1), "-u");  // UTF-8 whatever the locale
        run.erase(run.begin(), run.begin() + 2);
    }
    return result;
}

}  // namespace kx::testing
