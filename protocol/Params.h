#pragma once

#include <optional>
#include <string>

#include "protocol/JSONValue.h"

namespace kx::params {

// Lenient parameter reading shared by every handler: a value of the wrong JSON type counts as
// absent, so the caller applies its default.
std::optional<std::string> string(const JSONObject& params, const std::string& key);
std::optional<double> number(const JSONObject& params, const std::string& key);
std::optional<bool> boolean(const JSONObject& params, const std::string& key);
const JSONObject* object(const JSONObject& params, const std::string& key);
const JSONArray* array(const JSONObject& params, const std::string& key);

// A string parameter that must be present; throws WireError invalid_params "<key> is required".
std::string requiredString(const JSONObject& params, const std::string& key);

}  // namespace kx::params
