#pragma once

#include <filesystem>

namespace kx {

// Replaces the running installation with a verified application.
class UpdateInstalling {
public:
    virtual ~UpdateInstalling() = default;
    // Throws UpdateFailure when this installation cannot replace itself.
    virtual void preflight() = 0;
    // Shows the update host's download page to the person at the computer; returns whether it is
    // showing.
    virtual bool openDownloadPage() = 0;
    // Hands the swap over and asks the agent to quit; throws on failure.
    virtual void install(const std::filesystem::path& newApp) = 0;
};

}  // namespace kx
