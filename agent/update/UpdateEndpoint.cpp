#include "agent/update/UpdateEndpoint.h"

#include <cstdlib>

#ifndef KX_UPDATE_BASE_URL
#define KX_UPDATE_BASE_URL ""
#endif

namespace kx {

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

std::string withoutTrailingSlashes(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

}  // namespace

std::string_view UpdateEndpoint::buildDefaultBaseURL() {
    return KX_UPDATE_BASE_URL;
}

UpdateEndpoint UpdateEndpoint::fromEnvironment() {
    UpdateEndpoint endpoint;
    endpoint.baseURL = environment(baseURLVariable).value_or(std::string(buildDefaultBaseURL()));
    endpoint.baseURL = withoutTrailingSlashes(endpoint.baseURL);
    if (auto caFile = environment(caFileVariable)) endpoint.caFile = *caFile;
    return endpoint;
}

std::string UpdateEndpoint::manifestURL() const {
    return withoutTrailingSlashes(baseURL) + std::string(manifestPath);
}

std::string UpdateEndpoint::downloadPageURL() const {
    return withoutTrailingSlashes(baseURL) + std::string(downloadPagePath);
}

std::string updateUserAgent(std::string_view version, std::string_view platform) {
    return "KestrixAgent/" + std::string(version) + " (" + std::string(platform) + ")";
}

}  // namespace kx
