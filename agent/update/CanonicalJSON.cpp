#include "agent/update/CanonicalJSON.h"

#include <algorithm>

namespace kx::CanonicalJSON {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned char kFirstPrintable = 0x20;

void writeString(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < kFirstPrintable) {
                    out += "\\u00";
                    out += kHexDigits[c >> 4];
                    out += kHexDigits[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

// UTF-8 byte order is code-point order, so an unsigned byte comparison sorts by code point,
// a proper prefix first.
bool keyPrecedes(const Member* a, const Member* b) {
    return std::lexicographical_compare(
        a->first.begin(), a->first.end(), b->first.begin(), b->first.end(),
        [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
}

void write(std::string& out, const Value& value) {
    switch (value.kind()) {
        case Value::Kind::null: out += "null"; break;
        case Value::Kind::boolean: out += *value.asBool() ? "true" : "false"; break;
        case Value::Kind::integer: out += std::to_string(*value.asInteger()); break;
        case Value::Kind::string: writeString(out, *value.asString()); break;
        case Value::Kind::array: {
            out += '[';
            bool first = true;
            for (const auto& element : *value.asArray()) {
                if (!first) out += ',';
                first = false;
                write(out, element);
            }
            out += ']';
            break;
        }
        case Value::Kind::object: {
            std::vector<const Member*> members;
            for (const auto& member : *value.asObject()) members.push_back(&member);
            std::stable_sort(members.begin(), members.end(), keyPrecedes);
            out += '{';
            bool first = true;
            for (const auto* member : members) {
                if (!first) out += ',';
                first = false;
                writeString(out, member->first);
                out += ':';
                write(out, member->second);
            }
            out += '}';
            break;
        }
    }
}

}  // namespace

const Value* Value::operator[](std::string_view key) const {
    const auto* object = asObject();
    if (!object) return nullptr;
    for (const auto& [name, member] : *object) {
        if (name == key) return &member;
    }
    return nullptr;
}

std::string serialize(const Value& value) {
    std::string out;
    write(out, value);
    return out;
}

}  // namespace kx::CanonicalJSON
