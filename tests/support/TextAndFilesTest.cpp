#include <gtest/gtest.h>

#include <sys/stat.h>

#include "agent/support/AtomicFile.h"
#include "agent/support/GraphemeCount.h"
#include "agent/support/UTF8.h"
#include "tests/support/TempFolder.h"

using namespace kx;

TEST(AtomicFile, ReplacesContentWithModeAndLeavesNoTemporaryFiles) {
    kx::testing::TempFolder folder("atomic");
    auto file = folder / "devices.json";
    writeFileAtomically(file, "old");
    writeFileAtomically(file, "new content", 0600);
    EXPECT_EQ(readWholeFile(file), "new content");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
    EXPECT_THROW(writeFileAtomically(folder / "missing" / "x.json", "x"), std::system_error);
    EXPECT_FALSE(readWholeFile(folder / "absent").has_value());
}

// The segmentation is ICU's; what is ours is the inclusive limit, counted in characters, not bytes.
TEST(GraphemeCount, TheLimitIsInclusiveAndCountsCharacters) {
    constexpr std::size_t limit = 4096;
    std::string decomposed;
    for (std::size_t i = 0; i < limit; ++i) decomposed += "e\xCC\x81";  // e + combining acute accent
    EXPECT_FALSE(exceedsGraphemes(std::string(limit, 'a'), limit));
    EXPECT_TRUE(exceedsGraphemes(std::string(limit + 1, 'a'), limit));
    EXPECT_FALSE(exceedsGraphemes(decomposed, limit));
    EXPECT_TRUE(exceedsGraphemes(decomposed + "e", limit));
}

TEST(UTF8, RepairReplacesEachMalformedSequenceAndKeepsTheRest) {
    EXPECT_TRUE(isValidUTF8("plain \xC3\xA9 \xF0\x9F\x91\x8D"));
    EXPECT_EQ(repairUTF8("ok \xC3\xA9"), "ok \xC3\xA9");
    EXPECT_EQ(repairUTF8("a\xFF"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(repairUTF8("cut \xE2\x82"), "cut \xEF\xBF\xBD");
    // Overlong forms and encoded surrogates are not UTF-8 either.
    EXPECT_FALSE(isValidUTF8("\xC0\xAF"));
    EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));
    EXPECT_TRUE(isValidUTF8(repairUTF8("\xC0\xAF\xED\xA0\x80")));
}
