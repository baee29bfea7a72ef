#pragma once

#include <filesystem>

#include "agent/update/UpdateVerifying.h"
#include "protocol/Bytes.h"

namespace kx {

// Proves that a downloaded archive holds the published Kestrix: unpacks it into a fresh staging
// folder beside the installation (so the swap is a rename on one file system), then checks, in
// order, that it holds exactly one top-level "Kestrix" folder, that the folder's files are exactly
// those of its file list signed with the update key, and that its version is the release's.
class BundleVerifier : public UpdateVerifying {
public:
    static constexpr const char* noKestrixReason = "The update did not contain Kestrix";
    static constexpr const char* notSignedReason = "The update is not signed by the Kestrix developer";
    static constexpr const char* wrongVersionReason = "The update is not the version that was published";
    static constexpr const char* stagingPrefix = ".Kestrix-update-";
    static constexpr const char* bundleFolderName = "Kestrix";
    // The file list is a few hundred bytes per file.
    static constexpr std::size_t maxFileListBytes = 4 << 20;

    BundleVerifier(std::filesystem::path stagingParent, Key32 publicKey)
        : stagingParent_(std::move(stagingParent)), publicKey_(publicKey) {}

    std::filesystem::path prepare(const std::filesystem::path& archive, const UpdateRelease& release) override;

private:
    std::filesystem::path check(const std::filesystem::path& staging, const UpdateRelease& release) const;

    std::filesystem::path stagingParent_;
    Key32 publicKey_;
};

}  // namespace kx
