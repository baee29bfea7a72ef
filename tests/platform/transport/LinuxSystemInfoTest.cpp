#include <gtest/gtest.h>

#include "platform/linux/transport/LinuxSystemInfo.h"

using namespace kx;

TEST(LinuxSystemInfo, OperatingSystemNameFromOsRelease) {
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"
                                                 "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("# comment\nNAME='Fedora Linux'\nVERSION_ID=40\n"), "Fedora Linux 40");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("NAME=Arch\n"), "Arch");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("PRETTY_NAME=\"Say \\\"hi\\\"\"\n"), "Say \"hi\"");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("garbage\n"), "Linux");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("PRETTY_NAME=\nNAME=Gentoo\n"), "Gentoo");
}
