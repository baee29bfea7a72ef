#pragma once

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/sessions/SessionMethods.h"
#include "agent/transport/CommandRouter.h"
#include "tests/support/RouterCall.h"
#include "tests/support/TempFolder.h"

namespace kx::testing {

// The result of a call that must succeed (an empty object when it failed, with a test failure).
JSONObject succeed(const CommandRouter& router, const std::string& method, JSONObject params = {});
// The error of a call that must fail.
WireError fail(const CommandRouter& router, const std::string& method, JSONObject params = {});

// The session methods over a command registry with the two default templates, running the tmux
// at `tmux` (none: not installed) with `environment` added to the agent's.
struct SessionRig {
    SessionRig(std::optional<std::string> tmux, std::map<std::string, std::string> environment = {},
               std::chrono::milliseconds limit = TmuxRunner::defaultTimeLimit);
    std::string templateID(const std::string& name) const;

    std::shared_ptr<CommandRegistry> registry = std::make_shared<CommandRegistry>(std::nullopt, true);
    std::shared_ptr<SessionController> controller;
    CommandRouter router;
};

// A tmux stand-in in a folder of its own: it hangs once told to (the file "hang" there), otherwise
// records each run in "log" (the TERM and LC_ALL it saw, then its arguments) and prints "output".
class TmuxStandIn {
public:
    TmuxStandIn();
    std::string path() const { return (folder_ / "tmux").string(); }
    std::map<std::string, std::string> environment() const {
        return {{"DIR", folder_.path().string()}, {"LC_ALL", "C"}};
    }
    void hang() const;
    void output(const std::string& text) const;
    // The argument lists since the last call; each run must have seen TERM, a UTF-8 LC_ALL and "-u",
    // which are dropped.
    std::vector<std::vector<std::string>> runs() const;

private:
    TempFolder folder_{"tmux-stand-in"};
};

}  // namespace kx::testing
