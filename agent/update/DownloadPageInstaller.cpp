#include "agent/update/DownloadPageInstaller.h"

#include "agent/update/DownloadPageFailure.h"
#include "agent/update/UpdateService.h"

namespace kx {

void DownloadPageInstaller::preflight() {
    throw downloadPageFailure(cannotReplaceProblem, downloadPageURL_);
}

bool DownloadPageInstaller::openDownloadPage() {
    return openURL_ && openURL_(downloadPageURL_);
}

void DownloadPageInstaller::install(const std::filesystem::path&) {
    throw UpdateFailure(UpdateService::installFailedReason);
}

}  // namespace kx
