#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kx::CanonicalJSON {

class Value;
using Array = std::vector<Value>;
// Members in the order they were read; the parser guarantees unique keys.
using Member = std::pair<std::string, Value>;
using Object = std::vector<Member>;

// The strict JSON tree the update manifest is signed over: integers only, no floating point.
class Value {
public:
    enum class Kind { boolean, integer, string, array, object, null };

    Value() : value_(nullptr) {}
    Value(std::nullptr_t) : value_(nullptr) {}
    Value(bool b) : value_(b) {}
    Value(std::int64_t i) : value_(i) {}
    Value(int i) : value_(static_cast<std::int64_t>(i)) {}
    Value(std::string s) : value_(std::move(s)) {}
    Value(const char* s) : value_(std::string(s)) {}
    Value(Array a) : value_(std::move(a)) {}
    Value(Object o) : value_(std::move(o)) {}

    Kind kind() const { return static_cast<Kind>(value_.index()); }

    // Typed access: null when the value is of another kind.
    const bool* asBool() const { return std::get_if<bool>(&value_); }
    const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&value_); }
    const std::string* asString() const { return std::get_if<std::string>(&value_); }
    const Array* asArray() const { return std::get_if<Array>(&value_); }
    const Object* asObject() const { return std::get_if<Object>(&value_); }
    Object* asObject() { return std::get_if<Object>(&value_); }

    // The value of the first member named `key`; null for a missing key or a non-object.
    const Value* operator[](std::string_view key) const;

    friend bool operator==(const Value&, const Value&) = default;

private:
    std::variant<bool, std::int64_t, std::string, Array, Object, std::nullptr_t> value_;
};

// Where parsing stopped: the offending byte, or the input length when it ended too early.
struct ParseError : std::exception {
    std::size_t offset = 0;

    explicit ParseError(std::size_t at) : offset(at) {}
    const char* what() const noexcept override { return "invalid canonical JSON"; }
};

// Nesting limit: a value at this depth or deeper is rejected, which bounds the recursion.
inline constexpr std::size_t maxDepth = 32;
// Sixteen digits always fit a signed 64-bit integer.
inline constexpr std::size_t maxIntegerDigits = 16;

// Parses one value from raw bytes; throws ParseError.
Value parse(std::string_view bytes);

// The canonical bytes: no whitespace, object members sorted by key in code-point order,
// minimal escaping, integers in plain decimal.
std::string serialize(const Value& value);

}  // namespace kx::CanonicalJSON
