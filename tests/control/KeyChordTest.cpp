#include <gtest/gtest.h>

#include <set>

#include "agent/control/KeyChord.h"

using namespace kx;
using Case = KeyChordError::Case;

namespace {
KeyChordError failureOf(const std::string& chord) {
    try {
        KeyChord::parse(chord);
    } catch (const KeyChordError& e) {
        return e;
    }
    ADD_FAILURE() << chord << " parsed";
    return KeyChordError(Case::empty);
}
}  // namespace

TEST(KeyChord, TablesHoldTheAnsiKeyCodes) {
    const auto& keys = KeyChord::keys();
    EXPECT_EQ(keys.size(), 84u);
    EXPECT_EQ(KeyChord::modifiers().size(), 4u);
    const std::map<std::string, std::uint16_t> samples = {
        {"a", 0},        {"s", 1},          {"q", 12},      {"t", 17},
        {"z", 6},        {"1", 18},         {"0", 29},      {"5", 23},
        {"=", 24},       {"-", 27},         {"]", 30},      {"[", 33},
        {"'", 39},       {";", 41},         {"\\", 42},     {",", 43},
        {"/", 44},       {".", 47},         {"`", 50},      {"enter", 36},
        {"return", 36},  {"tab", 48},       {"space", 49},  {"backspace", 51},
        {"delete", 51},  {"esc", 53},       {"escape", 53}, {"forwarddelete", 117},
        {"left", 123},   {"up", 126},       {"home", 115},  {"end", 119},
        {"pageup", 116}, {"pagedown", 121}, {"f1", 122},    {"f2", 120},
        {"f5", 96},      {"f12", 111},      {"f17", 64},    {"f20", 90},
    };
    for (const auto& [name, code] : samples) EXPECT_EQ(keys.at(name), code) << name;
    // Every letter and digit has its own key.
    std::set<std::uint16_t> codes;
    for (char c = 'a'; c <= 'z'; ++c) codes.insert(keys.at(std::string(1, c)));
    for (char c = '0'; c <= '9'; ++c) codes.insert(keys.at(std::string(1, c)));
    EXPECT_EQ(codes.size(), 36u);

    EXPECT_EQ(KeyChord::modifiers().at("ctrl"), 0x40000u);
    EXPECT_EQ(KeyChord::modifiers().at("alt"), 0x80000u);
    EXPECT_EQ(KeyChord::modifiers().at("shift"), 0x20000u);
    EXPECT_EQ(KeyChord::modifiers().at("meta"), 0x100000u);
}

TEST(KeyChord, ParsesModifiersAndKeysCaseInsensitively) {
    EXPECT_EQ(KeyChord::parse("Ctrl+Shift+T"), (KeyChord{17, eventFlags::control | eventFlags::shift}));
    EXPECT_EQ(KeyChord::parse("meta+space"), (KeyChord{49, eventFlags::command}));
    EXPECT_EQ(KeyChord::parse("Meta+Q"), (KeyChord{12, eventFlags::command}));
    EXPECT_EQ(KeyChord::parse("f5"), (KeyChord{96, eventFlags::none}));
    EXPECT_EQ(KeyChord::parse("ctrl+ctrl+alt+F20"), (KeyChord{90, eventFlags::control | eventFlags::alternate}));
    // A trailing "+" is the plus key: Shift and "=".
    EXPECT_EQ(KeyChord::parse("ctrl+"), (KeyChord{24, eventFlags::control | eventFlags::shift}));
}

TEST(KeyChord, RejectsMalformedChords) {
    EXPECT_EQ(failureOf(""), KeyChordError(Case::empty));
    EXPECT_EQ(failureOf("+"), KeyChordError(Case::empty));
    EXPECT_EQ(failureOf("+a"), KeyChordError(Case::empty));
    EXPECT_EQ(failureOf("ctrl++"), KeyChordError(Case::empty));
    EXPECT_EQ(failureOf("shift"), KeyChordError(Case::modifiersOnly));
    EXPECT_EQ(failureOf("ctrl+alt"), KeyChordError(Case::modifiersOnly));
    EXPECT_EQ(failureOf("cmd+c"), KeyChordError(Case::unknownModifier, "cmd"));
    EXPECT_EQ(failureOf("cmd+s"), KeyChordError(Case::unknownModifier, "cmd"));
    EXPECT_EQ(failureOf("ctrl+foo+a"), KeyChordError(Case::unknownModifier, "foo"));
    EXPECT_EQ(failureOf("a+"), KeyChordError(Case::unknownModifier, "a"));
    // Spaces are not trimmed.
    EXPECT_EQ(failureOf("ctrl + a"), KeyChordError(Case::unknownModifier, "ctrl "));
    EXPECT_EQ(failureOf("ctrl+plus"), KeyChordError(Case::unknownKey, "plus"));
    EXPECT_EQ(failureOf("F21"), KeyChordError(Case::unknownKey, "f21"));
}
