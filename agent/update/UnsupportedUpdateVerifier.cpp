#include "agent/update/UnsupportedUpdateVerifier.h"

#include "agent/update/UpdateFailure.h"
#include "agent/update/UpdateService.h"

namespace kx {

std::filesystem::path UnsupportedUpdateVerifier::prepare(const std::filesystem::path&, const UpdateRelease&) {
    throw UpdateFailure(UpdateService::checkFailedReason);
}

}  // namespace kx
