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

IdentityStoreError::Case failureOf(FileIdentityStore& store) {
    try {
        store.load();
    } catch (const IdentityStoreError& error) {
        return error.which;
    }
    ADD_FAILURE() << "load succeeded";
    return IdentityStoreError::Case::io;
}

class FileIdentityStoreTest : public ::testing::Test {
protected:
    kx::testing::TempFolder folder{"identity"};
    FileIdentityStore store{folder.path() / "data"};
};

}  // namespace

TEST_F(FileIdentityStoreTest, KeepsTheRawSeedInAPrivateFileNamedAfterServiceAndAccount) {
    EXPECT_EQ(store.path().filename(), "com.kestrix.agent.identity.key");
    EXPECT_EQ(store.load(), std::nullopt);
    auto created = AgentIdentity::loadOrCreate(store);
    EXPECT_EQ(modeOf(store.path()), 0600u);
    auto bytes = readWholeFile(store.path());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, std::string(asText(created.privateKey())));

    FileIdentityStore reopened(folder.path() / "data");
    EXPECT_EQ(AgentIdentity::loadOrCreate(reopened).fingerprint(), created.fingerprint());

    auto other = AgentIdentity::generate();
    store.save(other);  // replaces, no duplicate error
    EXPECT_EQ(store.load(), other);
    store.clear();
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_NO_THROW(store.clear());
}

TEST_F(FileIdentityStoreTest, RefusesAKeyFileOthersCanRead) {
    store.save(AgentIdentity::generate());
    ASSERT_EQ(::chmod(store.path().c_str(), 0644), 0);
    EXPECT_EQ(failureOf(store), IdentityStoreError::Case::io);
    try {
        store.load();
    } catch (const IdentityStoreError& error) {
        EXPECT_EQ(error.status, EACCES);
    }
    ASSERT_EQ(::chmod(store.path().c_str(), 0640), 0);
    EXPECT_EQ(failureOf(store), IdentityStoreError::Case::io);
    // Saving again repairs the mode.
    store.save(AgentIdentity::generate());
    EXPECT_EQ(modeOf(store.path()), 0600u);
    EXPECT_TRUE(store.load());
}

TEST_F(FileIdentityStoreTest, RejectsFilesThatAreNotExactlyOneKeyAndNeverReplacesThem) {
    std::filesystem::create_directories(store.path().parent_path());
    for (std::size_t length : {std::size_t{0}, std::size_t{31}, std::size_t{33}}) {
        SCOPED_TRACE(length);
        writeFileAtomically(store.path(), std::string(length, 'k'), 0600);
        EXPECT_EQ(failureOf(store), IdentityStoreError::Case::malformedKey);
        EXPECT_THROW(AgentIdentity::loadOrCreate(store), IdentityStoreError);
        EXPECT_EQ(readWholeFile(store.path())->size(), length) << "a damaged key must stay for the user";
    }
    std::filesystem::remove(store.path());
    std::filesystem::create_symlink(folder / "elsewhere", store.path());
    writeFileAtomically(folder / "elsewhere", std::string(32, 'k'), 0600);
    EXPECT_EQ(failureOf(store), IdentityStoreError::Case::malformedKey) << "a symbolic link is not followed";
}

TEST_F(FileIdentityStoreTest, ReportsStorageFailuresAsIOErrorsWithErrno) {
    // The data "folder" is a plain file, so nothing can be created in it (root included).
    writeFileAtomically(folder / "data", "not a folder");
    try {
        store.save(AgentIdentity::generate());
        ADD_FAILURE() << "save into a non-folder succeeded";
    } catch (const IdentityStoreError& error) {
        EXPECT_EQ(error.which, IdentityStoreError::Case::io);
        EXPECT_EQ(error.status, ENOTDIR);
    }
    EXPECT_EQ(failureOf(store), IdentityStoreError::Case::io);
}
