#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "agent/support/AtomicFile.h"

using namespace kx;

TEST(AtomicFile, ReplacesContentWithModeAndLeavesNoTemporaryFiles) {
    auto folder = std::filesystem::temp_directory_path() / ("kx-atomic-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    auto file = folder / "devices.json";
    writeFileAtomically(file, "old");
    writeFileAtomically(file, "new content", 0600);
    EXPECT_EQ(readWholeFile(file), "new content");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    EXPECT_THROW(writeFileAtomically(folder / "missing" / "x.json", "x"), std::system_error);
    EXPECT_FALSE(readWholeFile(folder / "absent").has_value());
    std::filesystem::remove_all(folder);
}
