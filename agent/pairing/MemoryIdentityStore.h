#pragma once

#include <mutex>
#include <optional>

#include "agent/pairing/IdentityStoring.h"

namespace kx {

// An identity store that keeps the key in memory only; never fails. Safe from any thread.
class MemoryIdentityStore : public IdentityStoring {
public:
    explicit MemoryIdentityStore(std::optional<AgentIdentity> seed = std::nullopt);

    std::optional<AgentIdentity> load() override;
    void save(const AgentIdentity& identity) override;
    void clear() override;

private:
    std::mutex lock_;
    std::optional<AgentIdentity> stored_;
};

}  // namespace kx
