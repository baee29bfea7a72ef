#include "protocol/JSONConversion.h"

#include <array>
#include <charconv>
#include <cmath>

#include "protocol/JSONValueBuilder.h"

namespace kx {

namespace {

constexpr double kMaxExactInteger = 9007199254740992.0;  // 2^53

// Integral doubles travel without a fraction, as nlohmann writes an int64.
bool isWrittenAsInteger(double d) {
    return std::isfinite(d) && std::trunc(d) == d && std::fabs(d) <= kMaxExactInteger && !(d == 0 && std::signbit(d));
}

// Characters that JSON text may carry as themselves (nlohmann escapes only the rest of ASCII).
bool isPlainCharacter(char c) {
    return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x80 && c != '"' && c != '\\';
}

JSONValue fromNlohmann(const nlohmann::json& json, std::size_t depth) {
    switch (json.type()) {
        case nlohmann::json::value_t::null: return nullptr;
        case nlohmann::json::value_t::boolean: return json.get<bool>();
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
        case nlohmann::json::value_t::number_float: return json.get<double>();
        case nlohmann::json::value_t::string: return json.get_ref<const std::string&>();
        case nlohmann::json::value_t::array: {
            if (depth >= maxJSONDepth) throw JSONDecodeError("JSON nested too deeply");
            JSONArray out;
            out.reserve(json.size());
            for (const auto& item : json) out.push_back(fromNlohmann(item, depth + 1));
            return out;
        }
        case nlohmann::json::value_t::object: {
            if (depth >= maxJSONDepth) throw JSONDecodeError("JSON nested too deeply");
            JSONObject out;
            for (const auto& [key, item] : json.items()) out.emplace(key, fromNlohmann(item, depth + 1));
            return out;
        }
        default: throw JSONDecodeError("Unrepresentable JSON value");
    }
}

}  // namespace

nlohmann::json toNlohmann(const JSONValue& value) {
    switch (value.kind()) {
        case JSONValue::Kind::boolean: return value.asBool();
        case JSONValue::Kind::number: {
            const double d = value.asNumber();
            if (isWrittenAsInteger(d)) return static_cast<std::int64_t>(d);
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
    return fromNlohmann(json, 0);
}

void appendJSONString(std::string& out, std::string_view text) {
    for (char c : text) {
        if (!isPlainCharacter(c)) {
            // Escapes and UTF-8 checks are rare in practice; nlohmann does them its own way.
            out += nlohmann::json(text).dump();
            return;
        }
    }
    out += '"';
    out += text;
    out += '"';
}

void appendJSONNumber(std::string& out, double number) {
    std::array<char, 64> buffer;  // the size nlohmann's serializer uses
    char* end;
    if (isWrittenAsInteger(number)) {
        end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), static_cast<std::int64_t>(number)).ptr;
    } else if (!std::isfinite(number)) {
        out += "null";  // as nlohmann writes infinities and NaN
        return;
    } else {
        // nlohmann's own shortest round-trip formatting, so the text is what dump() writes.
        end = nlohmann::detail::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
    }
    out.append(buffer.data(), end);
}

void appendJSONText(std::string& out, const JSONObject& object) {
    out += '{';
    bool first = true;
    for (const auto& [key, item] : object) {
        if (!first) out += ',';
        first = false;
        appendJSONString(out, key);
        out += ':';
        appendJSONText(out, item);
    }
    out += '}';
}

void appendJSONText(std::string& out, const JSONValue& value) {
    switch (value.kind()) {
        case JSONValue::Kind::boolean: out += value.asBool() ? "true" : "false"; return;
        case JSONValue::Kind::number: appendJSONNumber(out, value.asNumber()); return;
        case JSONValue::Kind::string: appendJSONString(out, value.asString()); return;
        case JSONValue::Kind::array: {
            out += '[';
            bool first = true;
            for (const auto& item : value.asArray()) {
                if (!first) out += ',';
                first = false;
                appendJSONText(out, item);
            }
            out += ']';
            return;
        }
        case JSONValue::Kind::object: appendJSONText(out, value.asObject()); return;
        case JSONValue::Kind::null: out += "null"; return;
    }
}

}  // namespace kx
