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

// What the accepted chords press is InputMethodsTest's and X11EventPosterTest's.
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
