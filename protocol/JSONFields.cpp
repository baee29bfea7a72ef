#include "protocol/JSONFields.h"

#include <cmath>
#include <limits>

#include "protocol/JSONValue.h"

namespace kx::JSONFields {

namespace {
// Doubles at or beyond ±2^63 do not fit an int64.
constexpr double int64Bound = 9223372036854775808.0;

[[noreturn]] void fail(const char* key, const char* problem) {
    throw JSONDecodeError(std::string(key) + " " + problem);
}
}  // namespace

nlohmann::json parseObject(std::string_view text) {
    nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) throw JSONDecodeError("not valid JSON");
    if (!json.is_object()) throw JSONDecodeError("not a JSON object");
    return json;
}

const nlohmann::json* find(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const nlohmann::json& require(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = find(object, key);
    if (!value) fail(key, "is missing");
    return *value;
}

std::string requiredString(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = require(object, key);
    if (!value.is_string()) fail(key, "is not a string");
    return value.get<std::string>();
}

std::optional<std::string> optionalString(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = find(object, key);
    if (!value) return std::nullopt;
    if (!value->is_string()) fail(key, "is not a string");
    return value->get<std::string>();
}

bool requiredBool(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = require(object, key);
    if (!value.is_boolean()) fail(key, "is not a boolean");
    return value.get<bool>();
}

std::int64_t integer(const nlohmann::json& value, const char* what) {
    // nlohmann stores non-negative integers as unsigned; is_number_integer covers both.
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) fail(what, "is out of range");
        return static_cast<std::int64_t>(u);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::trunc(d) == d && d >= -int64Bound && d < int64Bound) return static_cast<std::int64_t>(d);
    }
    fail(what, "is not an integer");
}

std::vector<std::int64_t> requiredIntegerArray(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = require(object, key);
    if (!value.is_array()) fail(key, "is not an array");
    std::vector<std::int64_t> out;
    out.reserve(value.size());
    for (const auto& item : value) out.push_back(integer(item, key));
    return out;
}

}  // namespace kx::JSONFields
