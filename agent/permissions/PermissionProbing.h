#pragma once

#include <map>
#include <vector>

#include "agent/permissions/GrantState.h"
#include "agent/permissions/Requirement.h"

namespace kx {

// Looks at (and where the platform can, asks for) the state of requirements.
// Implementations hold no state that needs locking and may be used from any thread.
class PermissionProbing {
public:
    virtual ~PermissionProbing() = default;

    // Looks, never asks.
    virtual GrantState state(const Requirement& requirement) const = 0;
    // Looks, and where the platform can, asks the user.
    virtual GrantState prompt(const Requirement& requirement) const = 0;

    // state(of:) once per listed requirement, in list order; a repeated requirement overwrites.
    std::map<Requirement, GrantState> snapshot(const std::vector<Requirement>& requirements) const;
};

}  // namespace kx
