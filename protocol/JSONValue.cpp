#include "protocol/JSONValue.h"

#include <cmath>

#include "protocol/JSONConversion.h"

namespace kx {

std::string JSONValue::toJSONText() const {
    return toNlohmann(*this).dump();
}

JSONValue JSONValue::fromJSONText(std::string_view text) {
    try {
        return fromNlohmann(nlohmann::json::parse(text));
    } catch (const nlohmann::json::exception& e) {
        throw JSONDecodeError(e.what());
    }
}

std::size_t hashValue(const JSONValue& value) {
    auto mix = [](std::size_t seed, std::size_t h) {
        return seed ^ (h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
    };
    std::size_t seed = static_cast<std::size_t>(value.kind());
    switch (value.kind()) {
        case JSONValue::Kind::boolean: return mix(seed, value.asBool());
        case JSONValue::Kind::number: return mix(seed, std::hash<double>{}(value.asNumber()));
        case JSONValue::Kind::string: return mix(seed, std::hash<std::string>{}(value.asString()));
        case JSONValue::Kind::array:
            for (const auto& item : value.asArray()) seed = mix(seed, hashValue(item));
            return seed;
        case JSONValue::Kind::object:
            for (const auto& [key, item] : value.asObject()) {
                seed = mix(seed, std::hash<std::string>{}(key));
                seed = mix(seed, hashValue(item));
            }
            return seed;
        case JSONValue::Kind::null: return seed;
    }
    return seed;
}

}  // namespace kx
