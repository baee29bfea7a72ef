#pragma once

#include <filesystem>

#include "agent/update/UpdateRelease.h"

namespace kx {

// Unpacks a downloaded archive into a staging folder of its own and proves that it holds the
// published application; returns that application. Blocks; throws on failure.
class UpdateVerifying {
public:
    virtual ~UpdateVerifying() = default;
    virtual std::filesystem::path prepare(const std::filesystem::path& archive, const UpdateRelease& release) = 0;
};

}  // namespace kx
