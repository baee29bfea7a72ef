#include <gtest/gtest.h>

#include "agent/support/GraphemeCount.h"

using namespace kx;

namespace {
const std::string kDecomposedE = "e\xCC\x81";  // e + combining acute accent
const std::string kFamily = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
const std::string kFlag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
constexpr std::size_t kLimit = 4096;

std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}
}  // namespace

TEST(GraphemeCount, CountsUserPerceivedCharacters) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("abc"), 3u);
    EXPECT_EQ(graphemeCount(kDecomposedE), 1u);
    EXPECT_EQ(graphemeCount(kFamily + kFlag + "\r\n"), 3u);
}

TEST(GraphemeCount, LimitIsInclusiveAndCountsClustersNotBytes) {
    EXPECT_FALSE(exceedsGraphemes(std::string(kLimit, 'a'), kLimit));
    EXPECT_TRUE(exceedsGraphemes(std::string(kLimit + 1, 'a'), kLimit));
    EXPECT_FALSE(exceedsGraphemes(repeat(kDecomposedE, kLimit), kLimit));
    EXPECT_TRUE(exceedsGraphemes(repeat(kDecomposedE, kLimit + 1), kLimit));
}
