#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kx {

// The generic JSON tree carried in parameters and results: exactly six cases, no integer case.
// Equality is structural; objects compare as maps.
class JSONValue {
public:
    using Array = std::vector<JSONValue>;
    using Object = std::map<std::string, JSONValue>;
    enum class Kind { boolean, number, string, array, object, null };

    JSONValue() : value_(nullptr) {}
    JSONValue(std::nullptr_t) : value_(nullptr) {}
    JSONValue(bool b) : value_(b) {}
    JSONValue(double d) : value_(d) {}
    JSONValue(int i) : value_(static_cast<double>(i)) {}
    JSONValue(std::int64_t i) : value_(static_cast<double>(i)) {}
    JSONValue(std::uint64_t i) : value_(static_cast<double>(i)) {}
    JSONValue(std::string s) : value_(std::move(s)) {}
    JSONValue(std::string_view s) : value_(std::string(s)) {}
    JSONValue(const char* s) : value_(std::string(s)) {}
    JSONValue(Array a) : value_(std::move(a)) {}
    JSONValue(Object o) : value_(std::move(o)) {}

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isBool() const { return kind() == Kind::boolean; }
    bool isNumber() const { return kind() == Kind::number; }
    bool isString() const { return kind() == Kind::string; }
    bool isArray() const { return kind() == Kind::array; }
    bool isObject() const { return kind() == Kind::object; }
    bool isNull() const { return kind() == Kind::null; }

    // Unchecked accessors: the caller has tested the kind (std::bad_variant_access otherwise).
    bool asBool() const { return std::get<bool>(value_); }
    double asNumber() const { return std::get<double>(value_); }
    const std::string& asString() const { return std::get<std::string>(value_); }
    const Array& asArray() const { return std::get<Array>(value_); }
    const Object& asObject() const { return std::get<Object>(value_); }
    Array& asArray() { return std::get<Array>(value_); }
    Object& asObject() { return std::get<Object>(value_); }

    // Compact JSON text. Integral numbers within ±2^53 are written without a fraction.
    std::string toJSONText() const;
    // Parses one JSON text; throws JSONDecodeError on bad syntax.
    static JSONValue fromJSONText(std::string_view text);

    friend bool operator==(const JSONValue&, const JSONValue&) = default;

private:
    std::variant<bool, double, std::string, Array, Object, std::nullptr_t> value_;
};

using JSONObject = JSONValue::Object;
using JSONArray = JSONValue::Array;

struct JSONDecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::size_t hashValue(const JSONValue& value);

}  // namespace kx

template <>
struct std::hash<kx::JSONValue> {
    std::size_t operator()(const kx::JSONValue& v) const { return kx::hashValue(v); }
};
