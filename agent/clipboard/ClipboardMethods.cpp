#include "agent/clipboard/ClipboardMethods.h"

#include "agent/support/PlatformText.h"
#include "protocol/Params.h"

namespace kx {

namespace {
constexpr bool kRequiresAuth = true;
}

void registerClipboardMethods(CommandRouter& router, std::shared_ptr<const ClipboardController> clipboard) {
    const bool available = clipboard->isAvailable();
    const auto capability = available ? std::optional(Capability::clipboardText) : std::nullopt;
    auto add = [&](const char* method, MethodHandler handler) {
        router.registerMethod(method, capability, kRequiresAuth, std::move(handler), clipboardTarget);
    };
    const auto c = clipboard;
    add("clipboard.get", [c](const JSONObject&, const RequestContext&) {
        auto text = c->read();
        return JSONObject{{"text", text ? JSONValue(std::move(*text)) : JSONValue(nullptr)}};
    });
    add("clipboard.peek", [c](const JSONObject&, const RequestContext&) {
        auto preview = c->preview();
        if (!preview) return JSONObject{{"empty", true}};
        return JSONObject{
            {"empty", false}, {"kind", preview->kind}, {"characters", static_cast<double>(preview->characters)}};
    });
    add("clipboard.set", [c](const JSONObject& p, const RequestContext&) {
        c->write(params::requiredString(p, "text"));
        return JSONObject{};
    });
    if (!available) router.registerHint(Capability::clipboardText, {PlatformText::clipboardUnreachable, std::nullopt});
}

}  // namespace kx
