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

// What a source gives, as the phone gets it: one per identifier (the first wins), by name ignoring
// case, equal names by identifier; an entry without an identifier is dropped.
TEST(InstalledAppScanner, KeepsTheFirstOfEachIdentifierAndSortsByNameThenIdentifier) {
    auto arranged = InstalledAppScanner::arrange({
        app("org.b", "beta"),
        app("org.dup", "Zeta (first)"),
        app("org.a2", "Alpha"),
        app("", "No identifier"),
        app("org.a1", "alpha"),
        app("org.dup", "Aaa (second)"),
        app("org.c", "Gamma"),
    });
    std::vector<std::string> order;
    for (const auto& entry : arranged) order.push_back(entry.bundleID + " " + entry.name);
    EXPECT_EQ(order, (std::vector<std::string>{"org.a1 alpha", "org.a2 Alpha", "org.b beta", "org.c Gamma",
                                               "org.dup Zeta (first)"}));
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
