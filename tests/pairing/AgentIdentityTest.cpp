#include <gtest/gtest.h>

#include "agent/pairing/AgentIdentity.h"
#include "agent/pairing/IdentityStoreError.h"
#include "agent/pairing/MemoryIdentityStore.h"

using namespace kx;

namespace {

// Counts saves, and can be told to fail them.
class RecordingStore : public IdentityStoring {
public:
    std::optional<IdentityStoreError> saveFailure;
    int saves = 0;
    MemoryIdentityStore inner;

    std::optional<AgentIdentity> load() override { return inner.load(); }
    void save(const AgentIdentity& identity) override {
        if (saveFailure) throw *saveFailure;
        ++saves;
        inner.save(identity);
    }
    void clear() override { inner.clear(); }
};

}  // namespace

TEST(AgentIdentity, LoadOrCreateSavesOnceAndThenReturnsTheStoredKey) {
    RecordingStore store;
    auto first = AgentIdentity::loadOrCreate(store);
    auto second = AgentIdentity::loadOrCreate(store);
    EXPECT_EQ(store.saves, 1);
    EXPECT_EQ(first.fingerprint(), second.fingerprint());
    EXPECT_EQ(first.privateKey(), second.privateKey());
    EXPECT_NE(AgentIdentity::generate().fingerprint(), first.fingerprint());
}

// A key file that cannot be loaded stopping the start is StateFilesTest's; a failed save is not swallowed either.
TEST(AgentIdentity, ASaveFailurePassesThrough) {
    RecordingStore store;
    store.saveFailure = IdentityStoreError::io(EROFS, "item");
    try {
        AgentIdentity::loadOrCreate(store);
        ADD_FAILURE() << "a store failure must stop the start";
    } catch (const IdentityStoreError& error) {
        EXPECT_EQ(error.which, IdentityStoreError::Case::io);
        EXPECT_EQ(error.status, EROFS);
    }
}
