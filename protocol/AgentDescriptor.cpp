#include "protocol/AgentDescriptor.h"

namespace kx {

JSONObject AgentDescriptor::toJSON() const {
    return {{"name", name}, {"version", version}, {"platform", platform}, {"os", os}};
}

AgentDescriptor AgentDescriptor::fromJSON(const JSONValue& value) {
    if (!value.isObject()) throw JSONDecodeError("descriptor is not an object");
    const auto& obj = value.asObject();
    auto get = [&](const char* key) {
        auto it = obj.find(key);
        if (it == obj.end() || !it->second.isString()) throw JSONDecodeError(std::string("descriptor needs ") + key);
        return it->second.asString();
    };
    return {get("name"), get("version"), get("platform"), get("os")};
}

std::string AgentDescriptor::nameFromHostName(std::string hostName) {
    static constexpr std::string_view kLocal = ".local";
    for (auto pos = hostName.find(kLocal); pos != std::string::npos; pos = hostName.find(kLocal, pos))
        hostName.erase(pos, kLocal.size());
    return hostName;
}

}  // namespace kx
