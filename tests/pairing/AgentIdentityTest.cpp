#include <gtest/gtest.h>

#include "agent/pairing/AgentIdentity.h"
#include "agent/pairing/IdentityStoreError.h"
#include "agent/pairing/MemoryIdentityStore.h"

using namespace kx;

namespace {

// A store on a read-only disk: it has nothing and can keep nothing.
class ReadOnlyStore : public MemoryIdentityStore {
public:
    void save(const AgentIdentity&) override { throw IdentityStoreError::io(EROFS, "item"); }
};

}  // namespace

// Creating, saving and reloading the key is FileIdentityStoreTest's, as is a key file that cannot
// be loaded; a failed save is not swallowed either.
TEST(AgentIdentity, ASaveFailurePassesThrough) {
    ReadOnlyStore store;
    try {
        AgentIdentity::loadOrCreate(store);
        ADD_FAILURE() << "a store failure must stop the start";
    } catch (const IdentityStoreError& error) {
        EXPECT_EQ(error.which, IdentityStoreError::Case::io);
        EXPECT_EQ(error.status, EROFS);
    }
}
