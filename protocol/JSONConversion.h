#pragma once

#include <nlohmann/json.hpp>

#include "protocol/JSONValue.h"

namespace kx {

// Bridges between the protocol's JSONValue and nlohmann::json, which does the text work.
nlohmann::json toNlohmann(const JSONValue& value);
// Throws JSONDecodeError("Unrepresentable JSON value") for values that fit no case
// (binary values, or integers too large for a double to hold exactly are still accepted as doubles).
JSONValue fromNlohmann(const nlohmann::json& json);

}  // namespace kx
