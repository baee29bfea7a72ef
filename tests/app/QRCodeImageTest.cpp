#include <gtest/gtest.h>

#include "agent/support/ChildProcess.h"
#include "app/qt/QRCodeImage.h"
#include "tests/support/TempFolder.h"

using namespace kx;

// The rendered code reads back, through a real reader, as exactly the text it was made from: a
// long pairing code and a computer name beyond ASCII.
TEST(QRCodeImage, ReadsBackAsTheSameText) {
    kx::testing::TempFolder folder("qr");
    const std::string texts[] = {
        R"({"fp":"poVM9zuBHgXONICHCRGpO8HNscRV4RZKmXXe9lpgnmA","host":"192.168.100.200","name":"Jörg’s Läptöp ✓","port":65535,"token":"I7f17xG0mi9gl3ZATGSyK9bXL-PrB5V2","v":1})",
        "x",
    };
    for (const auto& text : texts) {
        auto image = QRCodeImage::render(text, 8);
        ASSERT_TRUE(image);
        auto file = folder / "code.png";
        ASSERT_TRUE(image->save(QString::fromStdString(file.string())));
        auto read = ChildProcess::run("/usr/bin/zbarimg", {"-q", "--raw", file.string()});
        EXPECT_EQ(read.standardOutput, text + "\n");  // zbarimg ends the text with a newline
    }
    EXPECT_FALSE(QRCodeImage::render("x", 0));
}
