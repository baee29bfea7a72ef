#include "agent/permissions/PermissionProbing.h"

namespace kx {

std::map<Requirement, GrantState> PermissionProbing::snapshot(const std::vector<Requirement>& requirements) const {
    std::map<Requirement, GrantState> result;
    for (const auto& requirement : requirements) result.insert_or_assign(requirement, state(requirement));
    return result;
}

}  // namespace kx
