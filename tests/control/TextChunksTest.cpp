#include <gtest/gtest.h>

#include "agent/control/TextChunks.h"

using namespace kx;

TEST(TextChunks, CountsExtendedGraphemeClusters) {
    auto characters = [](const std::string& text) { return chunkByCharacters(text, 1, 1000)->size(); };
    EXPECT_EQ(characters(""), 0u);
    EXPECT_EQ(characters("héllo"), 5u);
    EXPECT_EQ(characters("e\u0301\u0323"), 1u);    // two combining marks stay with their letter
    EXPECT_EQ(characters("🇩🇪🇫🇷"), 2u);             // regional indicators pair up
    EXPECT_EQ(characters("👩🏽‍💻"), 1u);  // skin tone and ZWJ sequence
    EXPECT_EQ(characters("🏳️‍🌈"), 1u);   // variation selector inside a ZWJ sequence
    EXPECT_EQ(characters("\r\n"), 1u);
    EXPECT_EQ(characters("\u1100\u1161\u11a8"), 1u);  // conjoining Hangul jamo
    EXPECT_EQ(characters("\xff"), 1u);                // invalid UTF-8 counts as one replacement

    EXPECT_EQ(chunkByCharacters("abcde", 2, 5), (std::vector<std::u16string>{u"ab", u"cd", u"e"}));
    EXPECT_FALSE(chunkByCharacters("abcdef", 2, 5).has_value());
}
