#pragma once

#include <functional>
#include <string>

#include "agent/update/UpdateInstalling.h"

namespace kx {

// The installer of an installation that cannot replace itself (no self-install support for its
// packaging): every install stops at the preflight, which shows the download page instead.
class DownloadPageInstaller : public UpdateInstalling {
public:
    static constexpr const char* cannotReplaceProblem = "This installation of Kestrix cannot replace itself.";
    // Shows a page; returns whether it is showing.
    using OpenURL = std::function<bool(const std::string&)>;

    DownloadPageInstaller(std::string downloadPageURL, OpenURL openURL)
        : downloadPageURL_(std::move(downloadPageURL)), openURL_(std::move(openURL)) {}

    void preflight() override;
    bool openDownloadPage() override;
    void install(const std::filesystem::path& newApp) override;

private:
    std::string downloadPageURL_;
    OpenURL openURL_;
};

}  // namespace kx
