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

TEST(CanonicalJSON, RemovesWhitespaceAndSortsKeys) {
    EXPECT_EQ(canonical(" {\"b\" :1,\r\n\t\"a\": [ true , null,\"x\" ] }\n"), "{\"a\":[true,null,\"x\"],\"b\":1}");
    EXPECT_EQ(canonical("{\"ab\":1,\"a\":2,\"B\":3}"), "{\"B\":3,\"a\":2,\"ab\":1}");
    EXPECT_EQ(canonical("{}"), "{}");
    EXPECT_EQ(canonical("[]"), "[]");
    // Members keep their input order until written.
    auto parsed = CanonicalJSON::parse("{\"z\":1,\"a\":2}");
    EXPECT_EQ(parsed.asObject()->front().first, "z");
    EXPECT_EQ(*parsed["a"]->asInteger(), 2);
    EXPECT_EQ(parsed["missing"], nullptr);
    EXPECT_EQ(Value(1)["a"], nullptr);
}

TEST(CanonicalJSON, SortsKeysByCodePointNotUTF16) {
    // U+1F600 is a surrogate pair in UTF-16 (D83D...) and so sorts before U+FFFD there.
    std::string grin = "\xF0\x9F\x98\x80", replacement = "\xEF\xBF\xBD";
    auto text = "{\"" + grin + "\":1,\"" + replacement + "\":2}";
    EXPECT_EQ(canonical(text), "{\"" + replacement + "\":2,\"" + grin + "\":1}");
    // A built value with keys out of order is sorted too.
    EXPECT_EQ(CanonicalJSON::serialize(Value(CanonicalJSON::Object{{"b", 1}, {"a", Value(CanonicalJSON::Array{})}})),
              "{\"a\":[],\"b\":1}");
}

TEST(CanonicalJSON, IntegersOnly) {
    EXPECT_EQ(canonical("-0"), "0");
    EXPECT_EQ(canonical("9999999999999999"), "9999999999999999");
    EXPECT_EQ(canonical("-9999999999999999"), "-9999999999999999");
    EXPECT_EQ(canonical("0"), "0");
    EXPECT_EQ(errorOffset("1.0"), 1);
    EXPECT_EQ(errorOffset("1e3"), 1);
    EXPECT_EQ(errorOffset("1E3"), 1);
    EXPECT_EQ(errorOffset("01"), 1);
    EXPECT_EQ(errorOffset("+1"), 0);
    EXPECT_EQ(errorOffset("-"), 1);
    EXPECT_EQ(errorOffset("-x"), 1);
    EXPECT_EQ(errorOffset("12345678901234567"), 16);
    EXPECT_EQ(errorOffset("[1,-01]"), 5);
}

TEST(CanonicalJSON, EscapesOnlyWhatItMust) {
    EXPECT_EQ(canonical("\"\\u0001\""), "\"\\u0001\"");
    EXPECT_EQ(canonical("\"\\u0001\"").size(), 8u);
    EXPECT_EQ(canonical("\"\\u001F\""), "\"\\u001f\"");
    EXPECT_EQ(canonical("\"a\\/b\""), "\"a/b\"");
    EXPECT_EQ(canonical("\"\\b\\f\\n\\r\\t\\\"\\\\\""), "\"\\b\\f\\n\\r\\t\\\"\\\\\"");
    EXPECT_EQ(canonical("\"\\u007f\\u00e9\""), "\"\x7f\xC3\xA9\"");
    EXPECT_EQ(canonical("\"\\u0000\""), "\"\\u0000\"");
    EXPECT_EQ(canonical("\"\\uD83D\\uDE00\""), "\"\xF0\x9F\x98\x80\"");
    EXPECT_EQ(canonical("\"\\ud83d\\ude00\""), "\"\xF0\x9F\x98\x80\"");
}

TEST(CanonicalJSON, RejectsBadStrings) {
    EXPECT_EQ(errorOffset("\"\\uDE00\""), 1);   // low surrogate alone
    EXPECT_EQ(errorOffset("\"\\uD83Dx\""), 7);  // high surrogate without partner
    EXPECT_EQ(errorOffset("\"\\uD83D\\u0041\""), 7);
    EXPECT_EQ(errorOffset("\"\\uD83D\\n\""), 8);
    EXPECT_EQ(errorOffset("\"\\x\""), 2);
    EXPECT_EQ(errorOffset("\"\\u12G4\""), 5);
    EXPECT_EQ(errorOffset("\"a\tb\""), 2);              // raw control character
    EXPECT_EQ(errorOffset("\"abc"), 4);                 // ends before the closing quote
    EXPECT_EQ(errorOffset("\"\xC3\""), 1);              // truncated UTF-8 sequence
    EXPECT_EQ(errorOffset("\"\xC0\xAF\""), 1);          // overlong encoding
    EXPECT_EQ(errorOffset("\"\xED\xA0\x80\""), 1);      // encoded surrogate
    EXPECT_EQ(errorOffset("\"\xF4\x90\x80\x80\""), 1);  // above U+10FFFF
    EXPECT_EQ(errorOffset("\xEF\xBB\xBF{}"), 0);        // byte-order mark
}

TEST(CanonicalJSON, RejectsBadStructure) {
    EXPECT_EQ(errorOffset("{\"a\":1,\"a\":2}"), 10);  // just after the duplicate key
    EXPECT_EQ(errorOffset("[1,]"), 3);
    EXPECT_EQ(errorOffset("{\"a\":1,}"), 7);
    EXPECT_EQ(errorOffset("{a:1}"), 1);
    EXPECT_EQ(errorOffset("[1 2]"), 3);
    EXPECT_EQ(errorOffset("{} x"), 3);  // left over after the value
    EXPECT_EQ(errorOffset("[1,2"), 4);  // ends too early
    EXPECT_EQ(errorOffset(""), 0);
    EXPECT_EQ(errorOffset("   "), 3);
    EXPECT_EQ(errorOffset("tru"), 3);
    EXPECT_EQ(errorOffset("nul1"), 3);
    EXPECT_EQ(errorOffset("[\v1]"), 1);  // vertical tab is not whitespace
    EXPECT_EQ(errorOffset(nested(32)), -1);
    EXPECT_EQ(errorOffset(nested(33)), 32);
    EXPECT_EQ(errorOffset(std::string(31, '[') + "{\"a\":1}" + std::string(31, ']')), 36);
}
