#include "agent/update/LiveUpdateService.h"

#include "agent/support/Log.h"
#include "agent/update/BrowserOpener.h"
#include "agent/update/DownloadPageInstaller.h"
#include "agent/update/HTTPManifestFetcher.h"
#include "agent/update/HTTPUpdateDownloader.h"
#include "agent/update/UnsupportedUpdateVerifier.h"
#include "agent/update/UpdateKey.h"
#include "agent/update/UpdateManifest.h"

namespace kx {

std::shared_ptr<UpdateService> makeLiveUpdateService(LiveUpdateOptions options) {
    HTTPSettings settings{updateUserAgent(options.version, updatePlatform), options.endpoint.caFile};
    auto publicKey = UpdateKey::bundled(options.publicKeyFile);
    if (!options.endpoint.hasHost()) {
        // A key without a host to ask is as good as no key: the service logs that updates are off.
        publicKey.reset();
    }
    if (!options.verifier || !options.installer) {
        options.verifier = std::make_shared<UnsupportedUpdateVerifier>();
        options.installer = std::make_shared<DownloadPageInstaller>(options.endpoint.downloadPageURL(), openInBrowser);
    }
    std::function<bool()> automaticChecks;
    if (auto preferences = options.preferences)
        automaticChecks = [preferences] { return preferences->automaticChecks(); };
    return std::make_shared<UpdateService>(UpdateService::Parts{
        options.version,
        std::string(updatePlatform),
        publicKey,
        std::make_shared<HTTPManifestFetcher>(options.endpoint.manifestURL(), settings),
        std::make_shared<HTTPUpdateDownloader>(settings),
        std::move(options.verifier),
        std::move(options.installer),
        {},
        std::move(automaticChecks),
    });
}

}  // namespace kx
