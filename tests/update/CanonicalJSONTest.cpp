#include <gtest/gtest.h>

#include "agent/update/CanonicalJSON.h"

using namespace kx;
using CanonicalJSON::Value;

namespace {

std::string canonical(std::string_view text) {
    return CanonicalJSON::serialize(CanonicalJSON::parse(text));
}

// The offset of the parse error, or -1 when the text parses.
long errorOffset(std::string_view text) {
    try {
        CanonicalJSON::parse(text);
        return -1;
    } catch (const CanonicalJSON::ParseError& error) {
        return static_cast<long>(error.offset);
    }
}

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

}  // namespace

// One row per input: its canonical bytes.
TEST(CanonicalJSON, WritesSortedKeysIntegersAndOnlyTheNecessaryEscapes) {
    const std::string grin = "\xF0\x9F\x98\x80", replacement = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> rows[] = {
        {" {\"b\" :1,\r\n\t\"a\": [ true , null,\"x\" ] }\n", "{\"a\":[true,null,\"x\"],\"b\":1}"},
        {"{\"ab\":1,\"a\":2,\"B\":3}", "{\"B\":3,\"a\":2,\"ab\":1}"},
        // U+1F600 is a surrogate pair in UTF-16 (D83D...) and so would sort before U+FFFD there.
        {"{\"" + grin + "\":1,\"" + replacement + "\":2}", "{\"" + replacement + "\":2,\"" + grin + "\":1}"},
        {"-0", "0"},
        {"-9999999999999999", "-9999999999999999"},
        {"\"\\u0001\\u001F\\u0000\"", "\"\\u0001\\u001f\\u0000\""},
        {"\"a\\/b\"", "\"a/b\""},
        {"\"\\b\\f\\n\\r\\t\\\"\\\\\"", "\"\\b\\f\\n\\r\\t\\\"\\\\\""},
        {"\"\\u007f\\u00e9\\uD83D\\uDE00\"", "\"\x7f\xC3\xA9" + grin + "\""},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(canonical(text), expected) << text;
    // A built value with keys out of order is sorted too.
    EXPECT_EQ(CanonicalJSON::serialize(Value(CanonicalJSON::Object{{"b", 1}, {"a", Value(CanonicalJSON::Array{})}})),
              "{\"a\":[],\"b\":1}");
}

// One row per refused input: the offset its error names.
TEST(CanonicalJSON, RefusesWhatItCannotWriteCanonicallyAtTheRightOffset) {
    const std::pair<std::string, long> rows[] = {
        {"1.0", 1},
        {"1e3", 1},
        {"01", 1},
        {"+1", 0},
        {"-", 1},
        {"12345678901234567", 16},
        {"[1,-01]", 5},
        {"\"\\uDE00\"", 1},         // low surrogate alone
        {"\"\\uD83Dx\"", 7},        // high surrogate without partner
        {"\"\\uD83D\\u0041\"", 7},  // ... or with another escape
        {"\"\\x\"", 2},
        {"\"\\u12G4\"", 5},
        {"\"a\tb\"", 2},              // raw control character
        {"\"abc", 4},                 // ends before the closing quote
        {"\"\xC3\"", 1},              // truncated UTF-8 sequence
        {"\"\xC0\xAF\"", 1},          // overlong encoding
        {"\"\xED\xA0\x80\"", 1},      // encoded surrogate
        {"\"\xF4\x90\x80\x80\"", 1},  // above U+10FFFF
        {"\xEF\xBB\xBF{}", 0},        // byte-order mark
        {"{\"a\":1,\"a\":2}", 10},    // just after the duplicate key
        {"[1,]", 3},
        {"{\"a\":1,}", 7},
        {"{a:1}", 1},
        {"[1 2]", 3},
        {"{} x", 3},  // left over after the value
        {"[1,2", 4},
        {"", 0},
        {"tru", 3},
        {"[\v1]", 1},  // vertical tab is not whitespace
        {nested(32), -1},
        {nested(33), 32},
        {std::string(31, '[') + "{\"a\":1}" + std::string(31, ']'), 36},
    };
    for (const auto& [text, offset] : rows) EXPECT_EQ(errorOffset(text), offset) << text;
}
