#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "agent/pairing/IdentityStoring.h"

namespace kx {

// Keeps the agent's key as a file of the 32 raw private-key bytes, readable by the user alone,
// named after the service and account ("com.kestrix.agent.identity.key"). A key file that group
// or others can read, or that another user owns, is refused rather than trusted.
class FileIdentityStore : public IdentityStoring {
public:
    static constexpr const char* defaultService = "com.kestrix.agent";
    static constexpr const char* defaultAccount = "identity";

    explicit FileIdentityStore(std::filesystem::path folder, std::string service = defaultService,
                               std::string account = defaultAccount);
    // In the data folder; throws IdentityStoreError(io, ENOENT) when there is none.
    static FileIdentityStore inDataDirectory();

    std::optional<AgentIdentity> load() override;
    void save(const AgentIdentity& identity) override;
    void clear() override;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
};

}  // namespace kx
