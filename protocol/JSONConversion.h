#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "protocol/JSONValue.h"

namespace kx {

// Bridges between the protocol's JSONValue and nlohmann::json, which does the text work.
nlohmann::json toNlohmann(const JSONValue& value);
// Throws JSONDecodeError("Unrepresentable JSON value") for values that fit no case
// (binary values, or integers too large for a double to hold exactly are still accepted as doubles),
// and for nesting deeper than maxJSONDepth.
JSONValue fromNlohmann(const nlohmann::json& json);

// Append exactly the text that toNlohmann(value).dump() gives, without building that tree.
// Like dump(), they throw nlohmann::json::type_error for strings that are not valid UTF-8.
void appendJSONText(std::string& out, const JSONValue& value);
void appendJSONText(std::string& out, const JSONObject& object);
void appendJSONString(std::string& out, std::string_view text);
void appendJSONNumber(std::string& out, double number);

}  // namespace kx
