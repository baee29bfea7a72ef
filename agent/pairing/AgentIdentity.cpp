#include "agent/pairing/AgentIdentity.h"

#include "agent/pairing/IdentityStoring.h"

namespace kx {

AgentIdentity::AgentIdentity(const Key32& privateKey) : AgentIdentity(SigningKey::fromSeed(privateKey)) {}

AgentIdentity::AgentIdentity(const SigningKey& key) : key_(key), fingerprint_(KxSec::fingerprint(key.publicKey)) {}

AgentIdentity AgentIdentity::generate() {
    return AgentIdentity(SigningKey::generate());
}

AgentIdentity AgentIdentity::loadOrCreate(IdentityStoring& store) {
    if (auto stored = store.load()) return *stored;
    auto created = generate();
    store.save(created);
    return created;
}

Signature64 AgentIdentity::sign(ByteView transcript) const {
    return KxSec::sign(transcript, key_);
}

}  // namespace kx
