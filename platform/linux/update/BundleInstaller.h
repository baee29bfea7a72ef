#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/update/UpdateFailure.h"
#include "agent/update/UpdateInstalling.h"
#include "platform/linux/update/BundleLocation.h"

namespace kx {

// Replaces a portable installation with a verified one: checks that this installation can replace
// itself, then hands the swap to the detached SwapScript and asks the agent to quit.
class BundleInstaller : public UpdateInstalling {
public:
    static constexpr const char* notABundleProblem = "Kestrix is not running as an app, so it cannot replace itself.";
    static constexpr const char* unwritableProblem = "Kestrix cannot replace itself in the folder it is in.";
    // Files under here belong to the package manager.
    static constexpr const char* packagedPrefix = "/usr/";

    struct Settings {
        BundleLocation location;
        std::string downloadPageURL;
        std::function<bool(const std::string&)> openURL;
        std::function<void()> terminate;
        std::filesystem::path dataFolder;
        std::vector<std::string> agentArguments;  // to start the new version with
        std::string version;                      // the running version's text
        // Default: the folder is writable by this process (access W_OK).
        std::function<bool(const std::filesystem::path&)> isWritable;
        // Default: temporaryFolders().
        std::vector<std::filesystem::path> temporaryFolders;
    };

    explicit BundleInstaller(Settings settings);

    // First match wins: not a bundle (the package manager's files, or a development build); a
    // bundle inside a temporary folder; a bundle whose folder cannot be written.
    static std::optional<UpdateFailure> locationProblem(const Settings& settings);
    // The folders the system empties: /tmp, /var/tmp, /dev/shm and $TMPDIR.
    static std::vector<std::filesystem::path> temporaryFolders();
    // "Previous " + the installation's name, beside it.
    static std::filesystem::path backupFor(const std::filesystem::path& installation);
    // This process's own arguments, without the program name.
    static std::vector<std::string> ownArguments();

    void preflight() override;
    bool openDownloadPage() override;
    void install(const std::filesystem::path& newApp) override;

private:
    Settings settings_;
};

}  // namespace kx
