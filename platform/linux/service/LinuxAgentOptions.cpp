#include "platform/linux/service/LinuxAgentOptions.h"

#include "agent/sessions/CommandRegistry.h"
#include "platform/linux/input/X11EventPoster.h"
#include "platform/linux/pairing/FileIdentityStore.h"
#include "platform/linux/power/ShutdownExecutorSelection.h"
#include "platform/linux/transport/DNSSDAdvertiser.h"
#include "platform/linux/transport/LinuxSystemInfo.h"
#include "platform/linux/transport/LogindSleepInhibitor.h"

namespace kx {

namespace {
constexpr const char* platformName = "linux";
}  // namespace

AgentServiceOptions linuxAgentOptions(const std::filesystem::path& dataFolder, const std::string& version,
                                      const std::optional<std::string>& updateBaseURL) {
    AgentServiceOptions options;
    options.identityStore = std::make_shared<FileIdentityStore>(dataFolder);
    options.registryPath = dataFolder / "devices.json";
    options.commandsPath = dataFolder / CommandRegistry::kFileName;
    options.hostName = LinuxSystemInfo::hostName();
    options.version = version;
    options.platform = platformName;
    options.os = LinuxSystemInfo::osName();
    options.advertiser = std::make_shared<DNSSDAdvertiser>();
    options.sleepInhibitor = std::make_shared<LogindSleepInhibitor>();
    // The display named by DISPLAY; without one the input methods answer "Accessibility not granted".
    options.eventPoster = std::make_shared<X11EventPoster>();
    options.shutdownExecutor = shutdownExecutorFromEnvironment();
    options.updateBaseURL = updateBaseURL;
    return options;
}

}  // namespace kx
