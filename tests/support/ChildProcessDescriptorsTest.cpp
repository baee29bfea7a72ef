#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "agent/support/ChildProcess.h"

using namespace kx;

// A descriptor opened without close-on-exec (as a library may do) stays out of the child too.
TEST(ChildProcess, ChildSeesNoDescriptorAboveStandardError) {
    const int inheritable = ::open("/dev/null", O_RDONLY);
    ASSERT_GT(inheritable, STDERR_FILENO);
    auto listed = ChildProcess::run("/bin/sh", {"-c", "ls /proc/$$/fd"});
    ::close(inheritable);
    EXPECT_EQ(listed.standardOutput, "0\n1\n2\n");
}
