#include "agent/update/UpdateDecision.h"

namespace kx {

UpdateDecision UpdateDecision::decide(const UpdateManifest& manifest, const std::optional<AgentVersion>& current) {
    if (manifest.paused) return {Kind::paused, std::nullopt, false};
    const auto& release = manifest.release;
    // Without a known running version nothing can be shown to be older.
    if (!release || !current || !(*current < release->version)) return {Kind::upToDate, std::nullopt, false};
    return {Kind::available, release, *current < release->minimumVersion};
}

}  // namespace kx
