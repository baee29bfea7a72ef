#include "protocol/Params.h"

#include "protocol/WireError.h"

namespace kx::params {

namespace {
const JSONValue* find(const JSONObject& params, const std::string& key) {
    auto it = params.find(key);
    return it == params.end() ? nullptr : &it->second;
}
}  // namespace

std::optional<std::string> string(const JSONObject& params, const std::string& key) {
    auto v = find(params, key);
    if (v && v->isString()) return v->asString();
    return std::nullopt;
}

std::optional<double> number(const JSONObject& params, const std::string& key) {
    auto v = find(params, key);
    if (v && v->isNumber()) return v->asNumber();
    return std::nullopt;
}

std::optional<bool> boolean(const JSONObject& params, const std::string& key) {
    auto v = find(params, key);
    if (v && v->isBool()) return v->asBool();
    return std::nullopt;
}

const JSONObject* object(const JSONObject& params, const std::string& key) {
    auto v = find(params, key);
    return v && v->isObject() ? &v->asObject() : nullptr;
}

const JSONArray* array(const JSONObject& params, const std::string& key) {
    auto v = find(params, key);
    return v && v->isArray() ? &v->asArray() : nullptr;
}

std::string requiredString(const JSONObject& params, const std::string& key) {
    auto s = string(params, key);
    if (!s) throw WireError::invalidParams(key + " is required");
    return *s;
}

}  // namespace kx::params
