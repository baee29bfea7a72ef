#include <gtest/gtest.h>

#include <limits>

#include "platform/linux/input/TextKeysyms.h"
#include "platform/linux/input/WheelSteps.h"

#include <X11/keysym.h>

using namespace kx;

TEST(WheelSteps, CarriesRemaindersAndCapsHugeDeltas) {
    WheelSteps wheel;
    constexpr int step = WheelSteps::pixelsPerStep;
    EXPECT_EQ(wheel.add(step * 2 + 5), 2);
    EXPECT_EQ(wheel.add(step - 6), 0);  // 5 + 34 pixels: still short of a click
    EXPECT_EQ(wheel.add(1), 1);
    EXPECT_EQ(wheel.add(-step / 2), 0);
    EXPECT_EQ(wheel.add(-step / 2), -1);
    EXPECT_EQ(wheel.add(std::numeric_limits<std::int32_t>::max()), WheelSteps::maxStepsPerEvent);
    EXPECT_EQ(wheel.add(step - 1), 0);  // the excess of the capped delta was dropped
    EXPECT_EQ(wheel.add(std::numeric_limits<std::int32_t>::min()), -WheelSteps::maxStepsPerEvent);
}

TEST(TextKeysyms, MapsCharactersToLatin1AndUnicodeKeysyms) {
    const std::vector<KeySym> expected = {XK_h,      XK_eacute, XK_space,  0x01002713, 0x0101F44D,
                                          XK_Return, XK_Tab,    XK_Return, XK_Return,  0x01000100};
    // CR LF is one line break; a lone CR or LF is one each; other controls and broken surrogates go.
    EXPECT_EQ(keysymsForText(u"hé ✓👍\r\n\t\r\n\n\x01\x7f\x85\xD800Ā"), expected);
}
