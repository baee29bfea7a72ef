#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "agent/sessions/SessionMethods.h"
#include "agent/support/AtomicFile.h"
#include "agent/support/PlatformText.h"
#include "tests/sessions/SessionTestSupport.h"

using namespace kx;
using namespace kx::testing;

namespace {

using Args = std::vector<std::string>;

// A stand-in tmux that records each run as a line: the TERM it saw, then its arguments, each after
// a unit separator. It prints the file named by FAKE_OUTPUT.
constexpr const char* kFakeTmux = R"SH(#!/bin/sh
{ printf 'TERM=%s' "$TERM"; for a in "$@"; do printf '\037%s' "$a"; done; echo; } >> "$FAKE_LOG"
[ -f "$FAKE_OUTPUT" ] && cat "$FAKE_OUTPUT"
exit 0
)SH";

class SessionMethodsWithFakeTmux : public ::testing::Test {
protected:
    void SetUp() override {
        auto tmux = (folder_ / "tmux").string();
        std::ofstream(tmux) << kFakeTmux;
        ::chmod(tmux.c_str(), 0755);
        controller_ = std::make_shared<SessionController>(
            registry_, [tmux] { return std::optional(tmux); },
            std::map<std::string, std::string>{{"FAKE_LOG", log()}, {"FAKE_OUTPUT", (folder_ / "output").string()}});
        registry_->upsert(SavedCommand{"c_dash", "Dash", "", "-n starts with a dash", templateID("Shell"), false});
        registry_->upsert(SavedCommand{"c_rm", "Wipe", "", "rm -rf build", templateID("Shell"), true});
        registerSessionMethods(router_, controller_, registry_);
    }

    std::string log() const { return (folder_ / "log").string(); }
    void output(const std::string& text) { std::ofstream(folder_ / "output") << text; }

    std::string templateID(const std::string& name) const {
        for (const auto& t : registry_->templates())
            if (t.name == name) return t.id;
        return {};
    }

    // The argument lists since the last call, each checked for TERM and "-u", which are dropped.
    std::vector<Args> runs() {
        std::istringstream lines(readWholeFile(log()).value_or(""));
        std::filesystem::remove(log());
        std::vector<Args> result;
        for (std::string line, field; std::getline(lines, line);) {
            std::istringstream fields(line);
            Args& run = result.emplace_back();
            while (std::getline(fields, field, '\037')) run.push_back(field);
            EXPECT_EQ(run.at(0), "TERM=xterm-256color");
            EXPECT_EQ(run.at(1), "-u");  // UTF-8 whatever the locale
            run.erase(run.begin(), run.begin() + 2);
        }
        return result;
    }

    TempFolder folder_{"fake-tmux"};
    std::shared_ptr<CommandRegistry> registry_ = std::make_shared<CommandRegistry>(std::nullopt, true);
    std::shared_ptr<SessionController> controller_;
    CommandRouter router_;
};

const std::string kFormat = "#{session_created}|#{window_width}|#{window_height}|#{session_name}";
const Args kList{"list-sessions", "-F", kFormat};

}  // namespace

TEST_F(SessionMethodsWithFakeTmux, ArgumentListsClampsAndExactTargets) {
    output("1|80|24|kx-claude-code\n");
    auto home = registry_->sessionTemplate(templateID("Shell"))->cwd;
    EXPECT_EQ(succeed(router_, "session.create", {{"templateId", templateID("Claude Code")}, {"name", 7}}),
              (JSONObject{{"id", "kx-claude-code-2"}}));  // a name that is not a string is ignored
    EXPECT_EQ(runs(),
              (std::vector<Args>{kList, {"new-session", "-d", "-s", "kx-claude-code-2", "-c", home, "claude"}}));
    std::filesystem::remove(folder_ / "output");

    const JSONObject id{{"id", "kx-shell"}};
    auto with = [&](JSONObject extra) {
        extra.insert(id.begin(), id.end());
        return extra;
    };
    const std::vector<std::pair<JSONValue, std::string>> lines{
        {nullptr, "-200"}, {0, "-1"}, {5000, "-2000"}, {2.9, "-2"}, {-7, "-1"}, {1e300, "-2000"}, {"9", "-200"}};
    for (const auto& [value, expected] : lines) {
        auto p = value.isNull() ? id : with({{"lines", value}});
        EXPECT_EQ(succeed(router_, "session.capture", p), (JSONObject{{"text", ""}}));
        EXPECT_EQ(runs(), (std::vector<Args>{{"capture-pane", "-p", "-e", "-t", "=kx-shell:", "-S", expected}}));
    }
    succeed(router_, "session.resize", with({{"cols", 1e30}, {"rows", -1e30}}));
    succeed(router_, "session.key", with({{"key", "ctrl-c"}}));
    succeed(router_, "session.text", with({{"text", "a\tb -x"}}));
    succeed(router_, "session.run", with({{"commandId", "c_dash"}}));
    succeed(router_, "session.kill", id);
    EXPECT_EQ(runs(), (std::vector<Args>{{"resize-window", "-t", "=kx-shell:", "-x", "500", "-y", "5"},
                                         {"send-keys", "-t", "=kx-shell:", "C-c"},
                                         {"send-keys", "-t", "=kx-shell:", "-l", "--", "a\tb -x"},
                                         {"send-keys", "-t", "=kx-shell:", "-l", "--", "-n starts with a dash"},
                                         {"send-keys", "-t", "=kx-shell:", "Enter"},
                                         {"kill-session", "-t", "=kx-shell:"}}));
}

TEST_F(SessionMethodsWithFakeTmux, RefusalsNeverReachTmux) {
    const auto bad = ErrorCode::invalidParams, notFound = ErrorCode::targetNotFound;
    const std::string controls = "Control characters are not permitted";
    const std::vector<std::tuple<std::string, JSONObject, ErrorCode, std::string>> cases{
        {"session.key", {{"id", "kx-a"}, {"key", "Enter"}}, bad, "Key not permitted"},
        {"session.text", {{"id", "kx-a"}, {"text", "ls\n"}}, bad, controls},
        {"session.text", {{"id", "kx-a"}, {"text", "a\x7f"}}, bad, controls},
        {"session.text", {{"id", "kx-a"}, {"text", std::string(4097, 'x')}}, bad, "Text is too long"},
        {"session.kill", {{"id", "work"}}, notFound, "No such session"},
        {"session.capture", {{"id", "kx-a b"}}, notFound, "No such session"},
        {"session.run",
         {{"id", "kx-a"}, {"commandId", "c_rm"}},
         ErrorCode::needsConfirmation,
         PlatformText::confirmToRun},
        {"session.run", {{"id", "kx-a"}, {"commandId", "c_gone"}}, notFound, "No such saved command"},
        {"session.create", {{"templateId", "t_gone"}}, notFound, "No such session template"},
        {"session.create", {}, bad, "templateId is required"},
        {"session.create", {{"templateId", 1}}, bad, "templateId is required"},
        {"session.kill", {}, bad, "id is required"},
        {"session.capture", {{"id", 3}}, bad, "id is required"},
        {"session.resize", {{"id", "kx-a"}, {"cols", 80}}, bad, "id, cols, rows are required"},
        {"session.run", {{"id", "kx-a"}}, bad, "id and commandId are required"},
        {"session.text", {{"id", "kx-a"}, {"text", 5}}, bad, "id and text are required"},
        {"session.key", {{"key", "enter"}}, bad, "id and key are required"}};
    for (const auto& [method, params, code, message] : cases)
        EXPECT_EQ(fail(router_, method, params), (WireError{code, message})) << method;
    // Empty text and 4096 characters are fine; only the second reaches tmux.
    succeed(router_, "session.text", {{"id", "kx-a"}, {"text", ""}});
    succeed(router_, "session.text", {{"id", "kx-a"}, {"text", std::string(4096, 'x')}});
    EXPECT_EQ(runs().size(), 1u);
}

TEST_F(SessionMethodsWithFakeTmux, ListsHideCommandTextAndProgramsAndCapabilitiesAreOffered) {
    auto commands = succeed(router_, "commands.list").at("commands").asArray();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], (JSONValue(JSONObject{{"commandId", "c_dash"},
                                                 {"name", "Dash"},
                                                 {"icon", ""},
                                                 {"templateId", templateID("Shell")},
                                                 {"danger", false}})));
    auto templates = succeed(router_, "templates.list").at("templates").asArray();
    ASSERT_EQ(templates.size(), 2u);
    EXPECT_EQ(templates[0].asObject().at("name"), JSONValue("Claude Code"));
    EXPECT_EQ(templates[0].asObject().size(), 4u);
    EXPECT_FALSE(templates[0].asObject().count("program"));

    EXPECT_EQ(router_.capabilities(), (std::set<Capability>{Capability::sessionTmux, Capability::commands}));
    EXPECT_FALSE(router_.unavailableWire().has_value());
    auto anonymous = router_.dispatch(Envelope::request("x", "commands.list"), RequestContext{});
    EXPECT_EQ(anonymous.e->code, ErrorCode::unauthorized);
}

TEST(SessionMethodsWithoutTmux, EverySessionMethodExplainsHowToInstallIt) {
    auto registry = std::make_shared<CommandRegistry>(std::nullopt, true);
    registry->upsert(SavedCommand{"c_ls", "List", "", "ls", "", false});
    auto controller = std::make_shared<SessionController>(registry, [] { return std::optional<std::string>(); });
    CommandRouter router;
    registerSessionMethods(router, controller, registry);

    const WireError notInstalled{ErrorCode::unsupported, "tmux is not installed",
                                 JSONObject{{"remediation", std::string(PlatformText::tmuxInstallCommand)}}};
    const std::vector<std::pair<std::string, JSONObject>> calls{
        {"session.list", {}},
        {"session.create", {{"templateId", registry->templates()[1].id}}},
        {"session.kill", {{"id", "kx-shell"}}},
        {"session.capture", {{"id", "kx-shell"}}},
        {"session.resize", {{"id", "kx-shell"}, {"cols", 80}, {"rows", 24}}},
        {"session.run", {{"id", "kx-shell"}, {"commandId", "c_ls"}}},
        {"session.text", {{"id", "kx-shell"}, {"text", "tab\there"}}},
        {"session.key", {{"id", "kx-shell"}, {"key", "enter"}}}};
    for (const auto& [method, params] : calls) EXPECT_EQ(fail(router, method, params), notInstalled) << method;

    EXPECT_EQ(router.capabilities(), std::set<Capability>{Capability::commands});
    EXPECT_EQ(router.unavailableWire(),
              JSONValue(JSONObject{
                  {"session.tmux", JSONObject{{"message", PlatformText::tmuxMissing},
                                              {"command", std::string(PlatformText::tmuxInstallCommand)}}}}));
    EXPECT_EQ(succeed(router, "commands.list").at("commands").asArray().size(), 1u);
}
