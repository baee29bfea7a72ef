#include "agent/control/KeyChord.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace kx {

namespace {

// Virtual key codes of the named keys (the ANSI layout's kVK_ constants).
constexpr std::uint16_t kReturn = 36, kTab = 48, kSpace = 49, kDelete = 51, kEscape = 53;
constexpr std::uint16_t kForwardDelete = 117, kLeft = 123, kRight = 124, kDown = 125, kUp = 126;
constexpr std::uint16_t kHome = 115, kEnd = 119, kPageUp = 116, kPageDown = 121;
constexpr std::uint16_t kEqual = 24;
// f1 to f20 in order; the codes follow the physical layout, not the numbering.
constexpr std::uint16_t kFunctionKeys[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                           103, 111, 105, 107, 113, 106, 64, 79,  80,  90};

std::map<std::string, std::uint16_t> makeKeys() {
    std::map<std::string, std::uint16_t> keys = {
        {"a", 0},
        {"s", 1},
        {"d", 2},
        {"f", 3},
        {"h", 4},
        {"g", 5},
        {"z", 6},
        {"x", 7},
        {"c", 8},
        {"v", 9},
        {"b", 11},
        {"q", 12},
        {"w", 13},
        {"e", 14},
        {"r", 15},
        {"y", 16},
        {"t", 17},
        {"o", 31},
        {"u", 32},
        {"i", 34},
        {"p", 35},
        {"l", 37},
        {"j", 38},
        {"k", 40},
        {"n", 45},
        {"m", 46},
        {"1", 18},
        {"2", 19},
        {"3", 20},
        {"4", 21},
        {"6", 22},
        {"5", 23},
        {"9", 25},
        {"7", 26},
        {"8", 28},
        {"0", 29},
        {"=", kEqual},
        {"-", 27},
        {"]", 30},
        {"[", 33},
        {"'", 39},
        {";", 41},
        {"\\", 42},
        {",", 43},
        {"/", 44},
        {".", 47},
        {"`", 50},
        {"enter", kReturn},
        {"return", kReturn},
        {"tab", kTab},
        {"space", kSpace},
        {"backspace", kDelete},
        {"delete", kDelete},
        {"escape", kEscape},
        {"esc", kEscape},
        {"forwarddelete", kForwardDelete},
        {"left", kLeft},
        {"right", kRight},
        {"down", kDown},
        {"up", kUp},
        {"home", kHome},
        {"end", kEnd},
        {"pageup", kPageUp},
        {"pagedown", kPageDown},
    };
    for (std::size_t i = 0; i < std::size(kFunctionKeys); ++i)
        keys.emplace("f" + std::to_string(i + 1), kFunctionKeys[i]);
    return keys;
}

std::vector<std::string> splitAtPlus(const std::string& text) {
    std::vector<std::string> parts{{}};
    for (char c : text) {
        if (c == '+')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

std::string asciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); });
    return text;
}

std::optional<EventFlags> modifierFlag(const std::string& name) {
    const auto& table = KeyChord::modifiers();
    auto it = table.find(name);
    return it == table.end() ? std::nullopt : std::optional(it->second);
}

}  // namespace

const char* KeyChordError::what() const noexcept {
    switch (which) {
        case Case::unknownKey: return "unknown key";
        case Case::unknownModifier: return "unknown modifier";
        case Case::empty: return "empty chord";
        case Case::modifiersOnly: return "chord names only modifiers";
    }
    return "bad chord";
}

const std::map<std::string, EventFlags>& KeyChord::modifiers() {
    static const std::map<std::string, EventFlags> table = {
        {"ctrl", eventFlags::control},
        {"alt", eventFlags::alternate},
        {"shift", eventFlags::shift},
        {"meta", eventFlags::command},
    };
    return table;
}

const std::map<std::string, std::uint16_t>& KeyChord::keys() {
    static const auto table = makeKeys();
    return table;
}

KeyChord KeyChord::parse(const std::string& text) {
    using Case = KeyChordError::Case;
    const auto parts = splitAtPlus(asciiLower(text));
    if (text.empty() || parts.front().empty()) throw KeyChordError(Case::empty);

    EventFlags flags = eventFlags::none;
    std::optional<std::string> key;
    if (auto flag = modifierFlag(parts.front()); flag && parts.size() >= 2)
        flags = *flag;
    else if (parts.size() == 1)
        key = parts.front();
    else
        throw KeyChordError(Case::unknownModifier, parts.front());

    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        const bool last = i + 1 == parts.size();
        if (part.empty()) {
            if (!last) throw KeyChordError(Case::empty);
            // A trailing "+" is the plus key: Shift and the "=" key on the ANSI layout.
            flags |= eventFlags::shift;
            key = "=";
        } else if (!last) {
            auto flag = modifierFlag(part);
            if (!flag) throw KeyChordError(Case::unknownModifier, part);
            flags |= *flag;
        } else {
            key = part;
        }
    }
    if (!key) throw KeyChordError(Case::empty);
    if (modifierFlag(*key)) throw KeyChordError(Case::modifiersOnly);
    auto found = keys().find(*key);
    if (found == keys().end()) throw KeyChordError(Case::unknownKey, *key);
    return {found->second, flags};
}

}  // namespace kx
