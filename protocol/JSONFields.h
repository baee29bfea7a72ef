#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace kx::JSONFields {

// Strict readers for the protocol's fixed records: a missing key or a value of the wrong type
// throws JSONDecodeError naming the key. A null value counts as absent.

// Parses text that must hold one JSON object.
nlohmann::json parseObject(std::string_view text);
const nlohmann::json* find(const nlohmann::json& object, const char* key);
const nlohmann::json& require(const nlohmann::json& object, const char* key);

std::string requiredString(const nlohmann::json& object, const char* key);
std::optional<std::string> optionalString(const nlohmann::json& object, const char* key);
bool requiredBool(const nlohmann::json& object, const char* key);
// Integers may be written with a zero fraction (1.0); anything outside 64-bit range fails.
std::int64_t integer(const nlohmann::json& value, const char* what);
std::vector<std::int64_t> requiredIntegerArray(const nlohmann::json& object, const char* key);

}  // namespace kx::JSONFields
