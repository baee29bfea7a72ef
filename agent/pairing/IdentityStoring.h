#pragma once

#include <optional>

#include "agent/pairing/AgentIdentity.h"

namespace kx {

// Where the agent keeps its long-term key. Every operation may throw IdentityStoreError.
class IdentityStoring {
public:
    virtual ~IdentityStoring() = default;

    // The stored identity, or absent when nothing is stored.
    virtual std::optional<AgentIdentity> load() = 0;
    // Replaces whatever is stored.
    virtual void save(const AgentIdentity& identity) = 0;
    // Removes what is stored; clearing an empty store is not an error.
    virtual void clear() = 0;
};

}  // namespace kx
