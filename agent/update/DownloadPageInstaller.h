#pragma once

#include <functional>
#include <string>

#include "agent/update/UpdateInstalling.h"

namespace kx {

// The installer of an installation that cannot replace itself (no self-install support for its
// packaging): every install stops at the preflight, which shows the download page instead.
class DownloadPageInstaller : public UpdateInstalling {
public:
    static constexpr const char* cannotReplaceReason =
        "This installation of Kestrix cannot replace itself. The download page is open on the computer";

    DownloadPageInstaller(std::string downloadPageURL, std::function<void(const std::string&)> openURL)
        : downloadPageURL_(std::move(downloadPageURL)), openURL_(std::move(openURL)) {}

    void preflight() override;
    void openDownloadPage() override;
    void install(const std::filesystem::path& newApp) override;

private:
    std::string downloadPageURL_;
    std::function<void(const std::string&)> openURL_;
};

}  // namespace kx
