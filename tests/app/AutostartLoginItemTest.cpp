#include <gtest/gtest.h>

#include "agent/support/AtomicFile.h"
#include "platform/linux/desktop/AutostartLoginItem.h"
#include "tests/support/TempFolder.h"

using namespace kx;

TEST(AutostartLoginItem, ExecArgumentsAreQuotedAsDesktopEntriesRequire) {
    struct Case {
        std::string argument;
        std::string quoted;
    };
    const Case cases[] = {
        {"/usr/bin/kestrix", "/usr/bin/kestrix"},
        {"/home/me/My Data", "\"/home/me/My Data\""},
        {"say \"hi\"", "\"say \\\\\"hi\\\\\"\""},
        {"100%", "\"100%%\""},
        {"$HOME", "\"\\\\$HOME\""},
        {"", "\"\""},
    };
    for (const auto& c : cases) EXPECT_EQ(AutostartLoginItem::quoted(c.argument), c.quoted) << c.argument;
}

TEST(AutostartLoginItem, OnWritesTheEntryOffRemovesItAndAHiddenEntryIsOff) {
    kx::testing::TempFolder folder("autostart");
    auto entry = folder / "config" / "autostart" / AutostartLoginItem::entryName;
    AutostartLoginItem item(entry, {"/opt/kestrix/kestrix", "--data-dir", "/data/my phone"});
    EXPECT_EQ(item.status(), LoginItem::Status::disabled);

    item.set(true);
    EXPECT_EQ(item.status(), LoginItem::Status::enabled);
    auto text = readWholeFile(entry).value_or("");
    EXPECT_NE(text.find("\nExec=/opt/kestrix/kestrix --data-dir \"/data/my phone\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);

    // A desktop told to skip the entry marks it hidden: then it is off.
    writeFileAtomically(entry, text + "Hidden=true\n");
    EXPECT_EQ(item.status(), LoginItem::Status::disabled);

    item.set(false);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_NO_THROW(item.set(false));
    EXPECT_THROW(AutostartLoginItem({}, {"kestrix"}).set(true), std::runtime_error);
}
