#include <cstdint>
#include <set>

#include "agent/update/CanonicalJSON.h"

namespace kx::CanonicalJSON {

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr std::uint32_t kHighSurrogateFirst = 0xD800;
constexpr std::uint32_t kHighSurrogateLast = 0xDBFF;
constexpr std::uint32_t kLowSurrogateFirst = 0xDC00;
constexpr std::uint32_t kLowSurrogateLast = 0xDFFF;
constexpr std::uint32_t kSupplementaryBase = 0x10000;
constexpr std::size_t kHexEscapeDigits = 4;

void appendUTF8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence starting at `lead` whose second byte must lie in
// [low, high]; 0 when the lead byte cannot start a multi-byte sequence.
struct SequenceShape {
    std::size_t length;
    unsigned char secondLow, secondHigh;
};

SequenceShape shapeOf(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};  // no overlong forms
    if (lead == 0xED) return {3, 0x80, 0x9F};  // no encoded surrogates
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
    return {0, 0, 0};
}

class Parser {
public:
    explicit Parser(std::string_view input) : in_(input) {}

    Value parseDocument() {
        skipWhitespace();
        Value value = parseValue(0);
        skipWhitespace();
        if (pos_ != in_.size()) fail();
        return value;
    }

private:
    std::string_view in_;
    std::size_t pos_ = 0;

    [[noreturn]] void fail() const { throw ParseError(pos_); }
    [[noreturn]] void failAt(std::size_t offset) const { throw ParseError(offset); }

    bool atEnd() const { return pos_ >= in_.size(); }
    unsigned char peek() const {
        if (atEnd()) fail();
        return static_cast<unsigned char>(in_[pos_]);
    }
    void expect(char c) {
        if (peek() != static_cast<unsigned char>(c)) fail();
        ++pos_;
    }

    void skipWhitespace() {
        while (!atEnd()) {
            char c = in_[pos_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
            ++pos_;
        }
    }

    Value parseValue(std::size_t depth) {
        if (depth >= maxDepth) fail();
        switch (peek()) {
            case '"': return parseStringText();
            case '[': return parseArray(depth);
            case '{': return parseObject(depth);
            case 't': parseLiteral("true"); return true;
            case 'f': parseLiteral("false"); return false;
            case 'n': parseLiteral("null"); return nullptr;
            default: return parseInteger();
        }
    }

    void parseLiteral(std::string_view literal) {
        for (char c : literal) expect(c);
    }

    Value parseInteger() {
        bool negative = false;
        if (peek() == '-') {
            negative = true;
            ++pos_;
        }
        std::size_t digitsStart = pos_;
        std::int64_t magnitude = 0;
        while (!atEnd() && in_[pos_] >= '0' && in_[pos_] <= '9') {
            if (pos_ - digitsStart == maxIntegerDigits) fail();
            if (pos_ > digitsStart && in_[digitsStart] == '0') fail();
            magnitude = magnitude * 10 + (in_[pos_] - '0');
            ++pos_;
        }
        if (pos_ == digitsStart) fail();
        if (!atEnd() && (in_[pos_] == '.' || in_[pos_] == 'e' || in_[pos_] == 'E')) fail();
        return negative ? -magnitude : magnitude;
    }

    std::uint32_t parseHexEscape() {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < kHexEscapeDigits; ++i) {
            unsigned char c = peek();
            std::uint32_t digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                fail();
            value = value * 16 + digit;
            ++pos_;
        }
        return value;
    }

    // After the backslash of a \u escape: one character, joining a surrogate pair.
    std::uint32_t parseUnicodeEscape() {
        std::size_t escapeStart = pos_ - 1;
        expect('u');
        std::uint32_t unit = parseHexEscape();
        if (unit >= kLowSurrogateFirst && unit <= kLowSurrogateLast) failAt(escapeStart);
        if (unit < kHighSurrogateFirst || unit > kHighSurrogateLast) return unit;
        expect('\\');
        expect('u');
        std::size_t lowStart = pos_ - 2;
        std::uint32_t low = parseHexEscape();
        if (low < kLowSurrogateFirst || low > kLowSurrogateLast) failAt(lowStart);
        return kSupplementaryBase + ((unit - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
    }

    void parseEscape(std::string& out) {
        ++pos_;  // the backslash
        switch (peek()) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': appendUTF8(out, parseUnicodeEscape()); return;
            default: fail();
        }
        ++pos_;
    }

    // Copies one well-formed UTF-8 sequence; fails at its first byte otherwise.
    void copyMultiByte(std::string& out) {
        std::size_t start = pos_;
        auto shape = shapeOf(static_cast<unsigned char>(in_[start]));
        if (shape.length == 0) fail();
        if (in_.size() - start < shape.length) failAt(in_.size());
        auto second = static_cast<unsigned char>(in_[start + 1]);
        if (second < shape.secondLow || second > shape.secondHigh) fail();
        for (std::size_t i = 2; i < shape.length; ++i) {
            auto next = static_cast<unsigned char>(in_[start + i]);
            if (next < 0x80 || next > 0xBF) fail();
        }
        out.append(in_.substr(start, shape.length));
        pos_ += shape.length;
    }

    std::string parseStringText() {
        expect('"');
        std::string out;
        while (true) {
            unsigned char c = peek();
            if (c == '"') {
                ++pos_;
                return out;
            }
            if (c == '\\') {
                parseEscape(out);
            } else if (c < kFirstPrintable) {
                fail();
            } else if (c < 0x80) {
                out += static_cast<char>(c);
                ++pos_;
            } else {
                copyMultiByte(out);
            }
        }
    }

    Value parseArray(std::size_t depth) {
        expect('[');
        Array elements;
        skipWhitespace();
        if (peek() == ']') {
            ++pos_;
            return elements;
        }
        while (true) {
            skipWhitespace();
            elements.push_back(parseValue(depth + 1));
            skipWhitespace();
            if (peek() == ']') {
                ++pos_;
                return elements;
            }
            expect(',');
        }
    }

    Value parseObject(std::size_t depth) {
        expect('{');
        Object members;
        std::set<std::string> seenKeys;
        skipWhitespace();
        if (peek() == '}') {
            ++pos_;
            return members;
        }
        while (true) {
            skipWhitespace();
            if (peek() != '"') fail();
            std::string key = parseStringText();
            if (!seenKeys.insert(key).second) fail();
            skipWhitespace();
            expect(':');
            skipWhitespace();
            Value value = parseValue(depth + 1);
            members.emplace_back(std::move(key), std::move(value));
            skipWhitespace();
            if (peek() == '}') {
                ++pos_;
                return members;
            }
            expect(',');
        }
    }
};

}  // namespace

Value parse(std::string_view bytes) {
    return Parser(bytes).parseDocument();
}

}  // namespace kx::CanonicalJSON
