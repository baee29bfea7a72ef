#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// Where the update host is and which certificate authorities to trust for it. The build sets a
// default host (empty: this build has none); the environment overrides both for private
// deployments and tests.
struct UpdateEndpoint {
    static constexpr const char* baseURLVariable = "KX_UPDATE_BASE_URL";
    static constexpr const char* caFileVariable = "KX_UPDATE_CA_FILE";
    static constexpr std::string_view manifestPath = "/updates/agent.json";
    static constexpr std::string_view downloadPagePath = "/download/";

    std::string baseURL;                          // "https://host[:port]", no trailing path
    std::optional<std::filesystem::path> caFile;  // absent: the system's trust store

    static std::string_view buildDefaultBaseURL();
    // The build default, then $KX_UPDATE_BASE_URL and $KX_UPDATE_CA_FILE when set and non-empty.
    static UpdateEndpoint fromEnvironment();

    bool hasHost() const { return !baseURL.empty(); }
    std::string manifestURL() const;
    std::string downloadPageURL() const;
};

// "KestrixAgent/<version> (<platform>)", sent with every request to the update host.
std::string updateUserAgent(std::string_view version, std::string_view platform);

}  // namespace kx
