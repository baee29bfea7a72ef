#include "agent/update/DownloadPageInstaller.h"

#include "agent/update/UpdateFailure.h"
#include "agent/update/UpdateService.h"

namespace kx {

void DownloadPageInstaller::preflight() {
    throw UpdateFailure(cannotReplaceReason);
}

void DownloadPageInstaller::openDownloadPage() {
    if (openURL_) openURL_(downloadPageURL_);
}

void DownloadPageInstaller::install(const std::filesystem::path&) {
    throw UpdateFailure(UpdateService::installFailedReason);
}

}  // namespace kx
