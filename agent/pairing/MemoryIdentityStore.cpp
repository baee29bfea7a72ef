#include "agent/pairing/MemoryIdentityStore.h"

namespace kx {

MemoryIdentityStore::MemoryIdentityStore(std::optional<AgentIdentity> seed) : stored_(std::move(seed)) {}

std::optional<AgentIdentity> MemoryIdentityStore::load() {
    std::lock_guard guard(lock_);
    return stored_;
}

void MemoryIdentityStore::save(const AgentIdentity& identity) {
    std::lock_guard guard(lock_);
    stored_ = identity;
}

void MemoryIdentityStore::clear() {
    std::lock_guard guard(lock_);
    stored_.reset();
}

}  // namespace kx
