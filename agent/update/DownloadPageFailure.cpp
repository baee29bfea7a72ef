#include "agent/update/DownloadPageFailure.h"

#include "agent/support/PlatformText.h"

namespace kx {

UpdateFailure downloadPageFailure(const std::string& problem, const std::string& pageURL) {
    return UpdateFailure(problem + " " + PlatformText::downloadPageOpen,
                         problem + " Download the new version from " + pageURL);
}

UpdateFailure temporaryLocationFailure(const std::string& pageURL) {
    std::string opening = std::string("Kestrix is running from a temporary location. Move it to ") +
                          PlatformText::permanentFolder + ", or ";
    return UpdateFailure(opening + PlatformText::downloadPageNowOpen,
                         opening + "download the new version from " + pageURL);
}

}  // namespace kx
