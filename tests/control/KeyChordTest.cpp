#include <gtest/gtest.h>

#include "agent/control/KeyChord.h"

using namespace kx;

// What the accepted chords press is InputMethodsTest's and X11EventPosterTest's.
TEST(KeyChord, RejectsMalformedChords) {
    // Spaces are not trimmed, modifiers alone press nothing, and names outside the tables are refused.
    for (const char* chord :
         {"", "+a", "ctrl++", "ctrl+alt", "cmd+c", "ctrl+foo+a", "a+", "ctrl + a", "ctrl+plus", "F21"})
        EXPECT_THROW(KeyChord::parse(chord), KeyChordError) << chord;
}
