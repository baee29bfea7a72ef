#include <gtest/gtest.h>

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
    const std::tuple<const char*, Case, const char*> cases[] = {
        {"", Case::empty, ""},
        {"+a", Case::empty, ""},
        {"ctrl++", Case::empty, ""},
        {"ctrl+alt", Case::modifiersOnly, ""},
        {"cmd+c", Case::unknownModifier, "cmd"},
        {"ctrl+foo+a", Case::unknownModifier, "foo"},
        {"a+", Case::unknownModifier, "a"},
        {"ctrl + a", Case::unknownModifier, "ctrl "},  // spaces are not trimmed
        {"ctrl+plus", Case::unknownKey, "plus"},
        {"F21", Case::unknownKey, "f21"},
    };
    for (const auto& [chord, which, part] : cases) EXPECT_EQ(failureOf(chord), KeyChordError(which, part)) << chord;
}
