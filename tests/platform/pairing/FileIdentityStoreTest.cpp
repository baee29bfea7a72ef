#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agent/pairing/IdentityStoreError.h"
#include "agent/support/AtomicFile.h"
#include "platform/linux/pairing/FileIdentityStore.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 0777;
}

// The error a load or save throws.
template <class Action>
IdentityStoreError failureOf(Action action) {
    try {
        action();
    } catch (const IdentityStoreError& error) {
        return error;
    }
    ADD_FAILURE() << "succeeded";
    return IdentityStoreError::io(0, "");
}

class FileIdentityStoreTest : public ::testing::Test {
protected:
    kx::testing::TempFolder folder{"identity"};
    FileIdentityStore store{folder.path() / "data"};
};

}  // namespace

// The file's name and a key that outlives the agent are the end-to-end state-file tests'.
TEST_F(FileIdentityStoreTest, KeepsTheRawSeedInAPrivateFile) {
    EXPECT_EQ(store.load(), std::nullopt);
    auto created = AgentIdentity::loadOrCreate(store);
    EXPECT_EQ(modeOf(store.path()), 0600u);
    auto bytes = readWholeFile(store.path());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, std::string(asText(created.privateKey())));

    auto other = AgentIdentity::generate();
    store.save(other);  // replaces, no duplicate error
    EXPECT_EQ(store.load(), other);
}

TEST_F(FileIdentityStoreTest, RefusesAKeyFileOthersCanReadAndReportsStorageFailuresWithErrno) {
    auto load = [&] { store.load(); };
    store.save(AgentIdentity::generate());
    for (mode_t mode : {0644, 0640}) {
        ASSERT_EQ(::chmod(store.path().c_str(), mode), 0);
        auto error = failureOf(load);
        EXPECT_EQ(error.which, IdentityStoreError::Case::io);
        EXPECT_EQ(error.status, EACCES);
    }
    // Saving again repairs the mode.
    store.save(AgentIdentity::generate());
    EXPECT_EQ(modeOf(store.path()), 0600u);
    EXPECT_TRUE(store.load());

    // The data "folder" is a plain file, so nothing can be created in it (root included).
    FileIdentityStore blocked(folder / "file" / "data");
    writeFileAtomically(folder / "file", "not a folder");
    auto error = failureOf([&] { blocked.save(AgentIdentity::generate()); });
    EXPECT_EQ(error.which, IdentityStoreError::Case::io);
    EXPECT_EQ(error.status, ENOTDIR);
    EXPECT_EQ(failureOf([&] { blocked.load(); }).which, IdentityStoreError::Case::io);
}

TEST_F(FileIdentityStoreTest, RejectsFilesThatAreNotExactlyOneKeyAndNeverReplacesThem) {
    auto load = [&] { store.load(); };
    std::filesystem::create_directories(store.path().parent_path());
    for (std::size_t length : {std::size_t{0}, std::size_t{31}, std::size_t{33}}) {
        SCOPED_TRACE(length);
        writeFileAtomically(store.path(), std::string(length, 'k'), 0600);
        EXPECT_EQ(failureOf(load).which, IdentityStoreError::Case::malformedKey);
        EXPECT_THROW(AgentIdentity::loadOrCreate(store), IdentityStoreError);
        EXPECT_EQ(readWholeFile(store.path())->size(), length) << "a damaged key must stay for the user";
    }
    std::filesystem::remove(store.path());
    std::filesystem::create_symlink(folder / "elsewhere", store.path());
    writeFileAtomically(folder / "elsewhere", std::string(32, 'k'), 0600);
    EXPECT_EQ(failureOf(load).which, IdentityStoreError::Case::malformedKey) << "a symbolic link is not followed";
}
