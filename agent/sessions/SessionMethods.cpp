#include "agent/sessions/SessionMethods.h"

#include <cmath>
#include <limits>

#include "agent/sessions/NewestLines.h"
#include "agent/support/PlatformText.h"
#include "agent/transport/CommandRouter.h"
#include "protocol/Params.h"
#include "protocol/SecureChannel.h"
#include "protocol/WireError.h"

namespace kx {

namespace {

constexpr bool kRequiresAuth = true;
constexpr std::int64_t kDefaultCaptureLines = 200;
// Room in one frame for the response envelope around the captured text, request id included.
constexpr std::size_t kEnvelopeAllowance = 4096;
constexpr std::size_t kMaxCaptureJSONBytes = SecureChannel::maxPayload - kEnvelopeAllowance;

// Truncates toward zero; values beyond the 64-bit range saturate so that the controller's clamp
// applies to them like to any other number.
std::int64_t integer(double value) {
    constexpr double limit = 9223372036854775807.0;  // 2^63, the first double past INT64_MAX
    if (std::isnan(value)) return 0;
    if (value >= limit) return std::numeric_limits<std::int64_t>::max();
    if (value <= -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

// Both strings or the whole message: a present value of the wrong type counts as missing.
std::pair<std::string, std::string> requiredPair(const JSONObject& p, const char* first, const char* second,
                                                 const char* message) {
    auto a = params::string(p, first);
    auto b = params::string(p, second);
    if (!a || !b) throw WireError::invalidParams(message);
    return {*a, *b};
}

JSONObject sessionObject(const SessionController::Session& s) {
    return {{"id", s.id},     {"name", s.name}, {"created", s.created},
            {"cols", s.cols}, {"rows", s.rows}, {"alive", s.alive}};
}

// The command text itself never leaves the computer.
JSONObject commandObject(const SavedCommand& c) {
    return {
        {"commandId", c.id}, {"name", c.name}, {"icon", c.icon}, {"templateId", c.templateId}, {"danger", c.danger}};
}

// Nor does a template's program.
JSONObject templateObject(const SessionTemplate& t) {
    return {{"templateId", t.id}, {"name", t.name}, {"icon", t.icon}, {"cwd", t.cwd}};
}

template <typename Value, typename Shape>
JSONArray shaped(const std::vector<Value>& values, Shape shape) {
    JSONArray out;
    out.reserve(values.size());
    for (const auto& v : values) out.emplace_back(shape(v));
    return out;
}

}  // namespace

void registerSessionMethods(CommandRouter& router, std::shared_ptr<const SessionController> sessions,
                            std::shared_ptr<const CommandRegistry> registry) {
    const bool available = sessions->isAvailable();
    const auto capability = available ? std::optional(Capability::sessionTmux) : std::nullopt;
    auto add = [&](const char* method, MethodHandler handler) {
        router.registerMethod(method, capability, kRequiresAuth, std::move(handler), std::nullopt);
    };
    // Requests on one session id take effect in the order they were sent (text, then enter).
    auto addOrdered = [&](const char* method, MethodHandler handler) {
        router.registerMethod(method, capability, kRequiresAuth, std::move(handler), OrderedTarget{"session", "id"});
    };
    const auto s = sessions;

    add("session.list", [s](const JSONObject&, const RequestContext&) {
        return JSONObject{{"sessions", shaped(s->list(), sessionObject)}};
    });
    add("session.create", [s](const JSONObject& p, const RequestContext&) {
        auto templateID = params::string(p, "templateId");
        if (!templateID) throw WireError::invalidParams("templateId is required");
        return JSONObject{{"id", s->create(*templateID, params::string(p, "name"))}};
    });
    addOrdered("session.kill", [s](const JSONObject& p, const RequestContext&) {
        s->kill(params::requiredString(p, "id"));
        return JSONObject{};
    });
    addOrdered("session.capture", [s](const JSONObject& p, const RequestContext&) {
        auto id = params::requiredString(p, "id");
        auto lines = params::number(p, "lines");
        // Colour escapes can make 2,000 wide lines several megabytes: the newest lines that fit
        // one frame are kept, with the style in force where they begin.
        auto text = s->capture(id, lines ? integer(*lines) : kDefaultCaptureLines);
        return JSONObject{{"text", newestLines(text, kMaxCaptureJSONBytes)}};
    });
    addOrdered("session.resize", [s](const JSONObject& p, const RequestContext&) {
        auto id = params::string(p, "id");
        auto cols = params::number(p, "cols");
        auto rows = params::number(p, "rows");
        if (!id || !cols || !rows) throw WireError::invalidParams("id, cols, rows are required");
        s->resize(*id, integer(*cols), integer(*rows));
        return JSONObject{};
    });
    addOrdered("session.run", [s](const JSONObject& p, const RequestContext&) {
        auto [id, commandID] = requiredPair(p, "id", "commandId", "id and commandId are required");
        s->run(commandID, id);
        return JSONObject{};
    });
    addOrdered("session.text", [s](const JSONObject& p, const RequestContext&) {
        auto [id, text] = requiredPair(p, "id", "text", "id and text are required");
        s->sendText(text, id);
        return JSONObject{};
    });
    addOrdered("session.key", [s](const JSONObject& p, const RequestContext&) {
        auto [id, key] = requiredPair(p, "id", "key", "id and key are required");
        s->sendKey(key, id);
        return JSONObject{};
    });
    if (!available)
        router.registerHint(Capability::sessionTmux,
                            {PlatformText::tmuxMissing, std::string(PlatformText::tmuxInstallCommand)});

    const auto r = registry;
    router.registerMethod("commands.list", Capability::commands, kRequiresAuth,
                          [r](const JSONObject&, const RequestContext&) {
                              return JSONObject{{"commands", shaped(r->allCommands(), commandObject)}};
                          });
    router.registerMethod("templates.list", Capability::commands, kRequiresAuth,
                          [r](const JSONObject&, const RequestContext&) {
                              return JSONObject{{"templates", shaped(r->templates(), templateObject)}};
                          });
}

}  // namespace kx
