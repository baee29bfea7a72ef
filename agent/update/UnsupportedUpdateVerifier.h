#pragma once

#include "agent/update/UpdateVerifying.h"

namespace kx {

// The verifier of a build that has no way to unpack and check its own packaging; paired with
// DownloadPageInstaller, whose preflight already stops every install before it is asked.
class UnsupportedUpdateVerifier : public UpdateVerifying {
public:
    std::filesystem::path prepare(const std::filesystem::path& archive, const UpdateRelease& release) override;
};

}  // namespace kx
