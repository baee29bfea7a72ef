#include "platform/linux/update/LinuxUpdateParts.h"

#include "agent/support/AtomicFile.h"
#include "agent/support/UTF8.h"
#include "agent/update/BrowserOpener.h"
#include "agent/update/UpdateEndpoint.h"
#include "agent/update/UpdateKey.h"
#include "platform/linux/update/BundleInstaller.h"
#include "platform/linux/update/BundleVerifier.h"
#include "platform/linux/update/SwapScript.h"

namespace kx {

namespace {
constexpr std::size_t kMaxFailureBytes = 1024;
constexpr std::string_view kLineEnds = "\r\n";
}  // namespace

LinuxUpdateParts LinuxUpdateParts::forRunningAgent(const std::filesystem::path& dataFolder, const std::string& version,
                                                   const std::optional<std::string>& updateBaseURL,
                                                   std::function<void()> terminate) {
    auto endpoint = UpdateEndpoint::fromEnvironment();
    if (updateBaseURL) endpoint.baseURL = *updateBaseURL;
    auto location = BundleLocation::running();
    auto stagingParent = location.root ? location.root->parent_path() : std::filesystem::temp_directory_path();
    // Without a key no check ever offers a release, so the verifier is never asked.
    auto key = UpdateKey::bundled(UpdateKey::defaultLocation()).value_or(Key32{});
    BundleInstaller::Settings settings;
    settings.location = std::move(location);
    settings.downloadPageURL = endpoint.downloadPageURL();
    settings.openURL = openInBrowser;
    settings.terminate = std::move(terminate);
    settings.dataFolder = dataFolder;
    settings.agentArguments = BundleInstaller::ownArguments();
    settings.version = version;
    return {std::make_shared<BundleVerifier>(stagingParent, key),
            std::make_shared<BundleInstaller>(std::move(settings))};
}

std::optional<std::string> LinuxUpdateParts::takeSwapFailure(const std::filesystem::path& dataFolder) {
    auto file = dataFolder / SwapScript::failureFileName;
    std::string text;
    try {
        text = readRegularFile(file, kMaxFailureBytes);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    text = text.substr(0, text.find_first_of(kLineEnds));
    if (text.empty()) return std::nullopt;
    return repairUTF8(text);
}

}  // namespace kx
