#include "platform/linux/update/BundleInstaller.h"

#include <unistd.h>

#include <cstdlib>

#include "agent/support/AtomicFile.h"
#include "agent/support/PlatformText.h"
#include "agent/update/DetachedSpawn.h"
#include "agent/update/DownloadPageFailure.h"
#include "agent/update/UpdateService.h"
#include "platform/linux/update/SwapScript.h"

namespace kx {

namespace {

// /proc/self/cmdline is the arguments, each ending with a zero byte; bounded like the kernel's.
constexpr std::size_t kMaxCommandLine = 2 << 20;

bool isInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
    auto relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
    return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

BundleInstaller::BundleInstaller(Settings settings) : settings_(std::move(settings)) {
    if (!settings_.isWritable)
        settings_.isWritable = [](const std::filesystem::path& folder) { return ::access(folder.c_str(), W_OK) == 0; };
    if (settings_.temporaryFolders.empty()) settings_.temporaryFolders = temporaryFolders();
}

std::optional<UpdateFailure> BundleInstaller::locationProblem(const Settings& settings) {
    const auto& location = settings.location;
    if (!location.root) {
        if (location.executable.string().starts_with(packagedPrefix))
            return downloadPageFailure(PlatformText::packageManagerUpdate, settings.downloadPageURL);
        return downloadPageFailure(notABundleProblem, settings.downloadPageURL);
    }
    for (const auto& temporary : settings.temporaryFolders)
        if (isInside(*location.root, temporary)) return temporaryLocationFailure(settings.downloadPageURL);
    if (!settings.isWritable(location.root->parent_path()))
        return downloadPageFailure(unwritableProblem, settings.downloadPageURL);
    return std::nullopt;
}

std::vector<std::filesystem::path> BundleInstaller::temporaryFolders() {
    std::vector<std::filesystem::path> folders{"/tmp", "/var/tmp", "/dev/shm"};
    if (const char* configured = std::getenv("TMPDIR"); configured && *configured) folders.emplace_back(configured);
    return folders;
}

std::filesystem::path BundleInstaller::backupFor(const std::filesystem::path& installation) {
    return installation.parent_path() / ("Previous " + installation.filename().string());
}

std::vector<std::string> BundleInstaller::ownArguments() {
    std::vector<std::string> arguments;
    try {
        std::string line = readRegularFile("/proc/self/cmdline", kMaxCommandLine);
        std::size_t start = 0;
        while (start < line.size()) {
            auto end = line.find('\0', start);
            if (end == std::string::npos) end = line.size();
            arguments.push_back(line.substr(start, end - start));
            start = end + 1;
        }
    } catch (const std::system_error&) {
    }
    if (!arguments.empty()) arguments.erase(arguments.begin());
    return arguments;
}

void BundleInstaller::preflight() {
    if (auto problem = locationProblem(settings_)) throw *problem;
}

bool BundleInstaller::openDownloadPage() {
    return settings_.openURL && settings_.openURL(settings_.downloadPageURL);
}

void BundleInstaller::install(const std::filesystem::path& newApp) {
    preflight();
    const auto& old = *settings_.location.root;
    auto newVersion = BundleLocation::versionOf(newApp).value_or("?");
    SwapScript::Arguments arguments{
        ::getpid(),
        old,
        newApp,
        backupFor(old),
        settings_.dataFolder,
        settings_.location.executable.filename().string(),
        "Kestrix " + newVersion + " did not start, so Kestrix " + settings_.version + " was put back",
        settings_.agentArguments,
    };
    if (!spawnDetached(SwapScript::commandLine(arguments))) throw UpdateFailure(UpdateService::installFailedReason);
    if (settings_.terminate) settings_.terminate();
}

}  // namespace kx
