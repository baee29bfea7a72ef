#include <gtest/gtest.h>

#include "agent/pairing/AgentIdentity.h"
#include "agent/pairing/IdentityStoreError.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "protocol/KxSec.h"

using namespace kx;

namespace {

// Counts saves, and can be told to fail its loads or saves.
class RecordingStore : public IdentityStoring {
public:
    std::optional<IdentityStoreError> loadFailure;
    std::optional<IdentityStoreError> saveFailure;
    int saves = 0;
    MemoryIdentityStore inner;

    std::optional<AgentIdentity> load() override {
        if (loadFailure) throw *loadFailure;
        return inner.load();
    }
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

TEST(AgentIdentity, StoreFailuresPassThroughAndNothingIsReplaced) {
    RecordingStore store;
    auto failure = [&] {
        try {
            AgentIdentity::loadOrCreate(store);
        } catch (const IdentityStoreError& error) {
            return error;
        }
        ADD_FAILURE() << "a store failure must stop the start";
        return IdentityStoreError::io(0, "");
    };
    store.loadFailure = IdentityStoreError::malformedKey("item");
    EXPECT_EQ(failure().which, IdentityStoreError::Case::malformedKey);
    EXPECT_EQ(store.saves, 0);
    store.loadFailure.reset();
    store.saveFailure = IdentityStoreError::io(EROFS, "item");
    auto error = failure();
    EXPECT_EQ(error.which, IdentityStoreError::Case::io);
    EXPECT_EQ(error.status, EROFS);
}

TEST(AgentIdentity, FingerprintAndSignatureMatchThePublicKey) {
    auto identity = AgentIdentity::generate();
    const auto& fp = identity.fingerprint();
    EXPECT_EQ(fp.size(), 43u);
    EXPECT_EQ(fp.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    EXPECT_EQ(fp, KxSec::fingerprint(identity.publicKey()));

    Key32 transcript{};
    transcript[0] = 7;
    auto signature = identity.sign(transcript);
    EXPECT_TRUE(KxSec::verify(signature, transcript, identity.publicKey()));
    transcript[0] = 8;
    EXPECT_FALSE(KxSec::verify(signature, transcript, identity.publicKey()));

    // Rebuilt from its stored seed it is the same identity.
    AgentIdentity rebuilt(identity.privateKey());
    EXPECT_EQ(rebuilt.publicKey(), identity.publicKey());
    EXPECT_EQ(rebuilt, identity);
}
