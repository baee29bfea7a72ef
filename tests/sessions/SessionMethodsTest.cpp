#include <gtest/gtest.h>

#include "agent/support/PlatformText.h"
#include "tests/sessions/SessionTestSupport.h"

using namespace kx;
using namespace kx::testing;
using namespace std::chrono_literals;

namespace {

using Args = std::vector<std::string>;

// The session methods on the tmux stand-in, with two saved commands of the Shell template. What
// real tmux makes of the arguments is SessionsTmuxTest's; here, what it is given and what never
// reaches it.
class SessionMethodsOnStandIn : public ::testing::Test {
protected:
    SessionMethodsOnStandIn() {
        registry->upsert(SavedCommand{"c_dash", "Dash", "", "-n starts with a dash", rig.templateID("Shell"), false});
        registry->upsert(SavedCommand{"c_rm", "Wipe", "", "rm -rf build", rig.templateID("Shell"), true});
    }

    TmuxStandIn tmux;
    SessionRig rig{tmux.path(), tmux.environment()};
    std::shared_ptr<CommandRegistry>& registry = rig.registry;
    CommandRouter& router = rig.router;
};

}  // namespace

TEST_F(SessionMethodsOnStandIn, ArgumentListsAndClamps) {
    tmux.output("1|80|24|kx-claude-code\n");
    auto home = registry->sessionTemplate(rig.templateID("Shell"))->cwd;
    EXPECT_EQ(succeed(router, "session.create", {{"templateId", rig.templateID("Claude Code")}, {"name", 7}}),
              (JSONObject{{"id", "kx-claude-code-2"}}));  // a name that is not a string is ignored
    EXPECT_EQ(tmux.runs(), (std::vector<Args>{{"list-sessions", "-F",
                                               "#{session_created}|#{window_width}|#{window_height}|#{session_name}"},
                                              {"new-session", "-d", "-s", "kx-claude-code-2", "-c", home, "claude"}}));
    tmux.output("");

    const std::vector<std::pair<JSONValue, std::string>> lines{
        {nullptr, "-200"}, {0, "-1"}, {5000, "-2000"}, {2.9, "-2"}, {-7, "-1"}, {1e300, "-2000"}, {"9", "-200"}};
    for (const auto& [value, expected] : lines) {
        JSONObject params{{"id", "kx-shell"}};
        if (!value.isNull()) params["lines"] = value;
        EXPECT_EQ(succeed(router, "session.capture", params), (JSONObject{{"text", ""}}));
        EXPECT_EQ(tmux.runs(), (std::vector<Args>{{"capture-pane", "-p", "-e", "-t", "=kx-shell:", "-S", expected}}));
    }
    succeed(router, "session.resize", {{"id", "kx-shell"}, {"cols", 1e30}, {"rows", -1e30}});
    succeed(router, "session.key", {{"id", "kx-shell"}, {"key", "ctrl-c"}});
    EXPECT_EQ(tmux.runs(), (std::vector<Args>{{"resize-window", "-t", "=kx-shell:", "-x", "500", "-y", "5"},
                                              {"send-keys", "-t", "=kx-shell:", "C-c"}}));
}

TEST_F(SessionMethodsOnStandIn, RefusalsNeverReachTmux) {
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
        EXPECT_EQ(fail(router, method, params), (WireError{code, message})) << method;
    // Empty text and 4096 characters are fine; only the second reaches tmux.
    succeed(router, "session.text", {{"id", "kx-a"}, {"text", ""}});
    succeed(router, "session.text", {{"id", "kx-a"}, {"text", std::string(4096, 'x')}});
    EXPECT_EQ(tmux.runs().size(), 1u);
}

// Longer than the kernel passes as one argument: refused before tmux starts; one byte less runs.
TEST_F(SessionMethodsOnStandIn, OverlongArgumentsNeverStartTmux) {
    auto accented = [](std::size_t bytes) {  // one grapheme of `bytes` bytes (an odd number)
        std::string text = "e";
        while (text.size() < bytes) text += "\u0301";
        return text;
    };
    registry->upsert(SavedCommand{"c_long", "Long", "", std::string(TmuxRunner::maxArgumentBytes, 'x'), "", false});
    registry->upsert(SavedCommand{"c_max", "Max", "", std::string(TmuxRunner::maxArgumentBytes - 1, 'x'), "", false});
    const WireError tooLong{ErrorCode::invalidParams, "Text is too long"};
    const std::string text = accented(TmuxRunner::maxArgumentBytes - 1);
    EXPECT_EQ(fail(router, "session.text", {{"id", "kx-a"}, {"text", "e" + text}}), tooLong);
    EXPECT_EQ(fail(router, "session.run", {{"id", "kx-a"}, {"commandId", "c_long"}}), tooLong);
    EXPECT_TRUE(tmux.runs().empty());
    succeed(router, "session.text", {{"id", "kx-a"}, {"text", text}});
    succeed(router, "session.run", {{"id", "kx-a"}, {"commandId", "c_max"}});
    EXPECT_EQ(tmux.runs().size(), 3u);  // text, command and Enter
}

TEST(SessionMethodsOnHungTmux, EveryCallTimesOut) {
    TmuxStandIn tmux;
    SessionRig rig(tmux.path(), tmux.environment(), 100ms);
    tmux.hang();
    const WireError late{ErrorCode::timeout, "The terminal did not respond"};
    EXPECT_EQ(fail(rig.router, "session.list"), late);
    EXPECT_EQ(fail(rig.router, "session.create", {{"templateId", rig.templateID("Shell")}}), late);
    EXPECT_EQ(fail(rig.router, "session.capture", {{"id", "kx-a"}}), late);
}

TEST_F(SessionMethodsOnStandIn, ListsHideCommandTextAndProgramsAndCapabilitiesAreOffered) {
    auto commands = succeed(router, "commands.list").at("commands").asArray();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], (JSONValue(JSONObject{{"commandId", "c_dash"},
                                                 {"name", "Dash"},
                                                 {"icon", ""},
                                                 {"templateId", rig.templateID("Shell")},
                                                 {"danger", false}})));
    auto templates = succeed(router, "templates.list").at("templates").asArray();
    ASSERT_EQ(templates.size(), 2u);
    EXPECT_EQ(templates[0].asObject().at("name"), JSONValue("Claude Code"));
    EXPECT_EQ(templates[0].asObject().size(), 4u);
    EXPECT_FALSE(templates[0].asObject().count("program"));

    EXPECT_EQ(router.capabilities(), (std::set<Capability>{Capability::sessionTmux, Capability::commands}));
    EXPECT_FALSE(router.unavailableWire().has_value());
    auto anonymous = router.dispatch(Envelope::request("x", "commands.list"), RequestContext{});
    EXPECT_EQ(anonymous.e->code, ErrorCode::unauthorized);
}

TEST(SessionMethodsWithoutTmux, EverySessionMethodExplainsHowToInstallIt) {
    SessionRig rig(std::nullopt);
    auto& registry = rig.registry;
    auto& router = rig.router;
    registry->upsert(SavedCommand{"c_ls", "List", "", "ls", "", false});

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
