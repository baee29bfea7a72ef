#include "protocol/JSONConversion.h"

#include <cmath>

namespace kx {

namespace {
constexpr double kMaxExactInteger = 9007199254740992.0;  // 2^53
}

nlohmann::json toNlohmann(const JSONValue& value) {
    switch (value.kind()) {
        case JSONValue::Kind::boolean: return value.asBool();
        case JSONValue::Kind::number: {
            const double d = value.asNumber();
            if (std::isfinite(d) && std::trunc(d) == d && std::fabs(d) <= kMaxExactInteger &&
                !(d == 0 && std::signbit(d))) {
                return static_cast<std::int64_t>(d);
            }
            return d;
        }
        case JSONValue::Kind::string: return value.asString();
        case JSONValue::Kind::array: {
            nlohmann::json out = nlohmann::json::array();
            for (const auto& item : value.asArray()) out.push_back(toNlohmann(item));
            return out;
        }
        case JSONValue::Kind::object: {
            nlohmann::json out = nlohmann::json::object();
            for (const auto& [key, item] : value.asObject()) out[key] = toNlohmann(item);
            return out;
        }
        case JSONValue::Kind::null: return nullptr;
    }
    return nullptr;
}

JSONValue fromNlohmann(const nlohmann::json& json) {
    switch (json.type()) {
        case nlohmann::json::value_t::null: return nullptr;
        case nlohmann::json::value_t::boolean: return json.get<bool>();
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
        case nlohmann::json::value_t::number_float: return json.get<double>();
        case nlohmann::json::value_t::string: return json.get_ref<const std::string&>();
        case nlohmann::json::value_t::array: {
            JSONArray out;
            out.reserve(json.size());
            for (const auto& item : json) out.push_back(fromNlohmann(item));
            return out;
        }
        case nlohmann::json::value_t::object: {
            JSONObject out;
            for (const auto& [key, item] : json.items()) out.emplace(key, fromNlohmann(item));
            return out;
        }
        default: throw JSONDecodeError("Unrepresentable JSON value");
    }
}

}  // namespace kx
