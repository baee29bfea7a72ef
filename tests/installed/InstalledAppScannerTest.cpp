#include <gtest/gtest.h>

#include <atomic>

#include "agent/installed/IconCache.h"
#include "agent/installed/InstalledAppScanner.h"

using namespace kx;

namespace {
InstalledApp app(std::string id, std::string name) {
    InstalledApp entry;
    entry.url = "/apps/" + id;
    entry.bundleID = std::move(id);
    entry.name = std::move(name);
    return entry;
}
}  // namespace

// An identifier given twice keeps its first entry, and one without an identifier is dropped (the
// order by name is checked with real desktop entries, whose ids GIO keeps unique).
TEST(InstalledAppScanner, KeepsTheFirstEntryOfEachIdentifier) {
    auto arranged = InstalledAppScanner::arrange({app("org.dup", "Zeta"), app("", "Nameless"), app("org.dup", "Aaa")});
    ASSERT_EQ(arranged.size(), 1u);
    EXPECT_EQ(arranged[0].name, "Zeta");
}

// A failed render is not remembered; a good one is kept and never drawn again.
TEST(IconCache, RetriesAFailedRenderAndKeepsTheFirstGoodOne) {
    std::atomic<int> renders = 0;
    IconCache cache([&renders](const InstalledApp&) -> std::optional<std::string> {
        return ++renders == 1 ? std::nullopt : std::optional<std::string>("icon" + std::to_string(renders.load()));
    });
    const auto editor = app("org.editor", "Editor");
    EXPECT_EQ(cache.icon(editor), std::nullopt);
    EXPECT_EQ(cache.icon(editor), "icon2");
    EXPECT_EQ(cache.icon(editor), "icon2");
    EXPECT_EQ(renders, 2);
}
