#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

typedef void CURL;

namespace kx {

// What every request to the update host shares.
struct HTTPSettings {
    std::string userAgent;
    std::optional<std::filesystem::path> caFile;  // absent: the system's trust store
};

// One HTTPS GET through libcurl: HTTPS only (redirects included), no cookies, no cache, aborted
// when a stop is requested. The body reaches the sink only with status 200; any other status
// ends the transfer at its first body byte.
class CurlRequest {
public:
    // Takes one chunk of the body; false ends the transfer.
    using Sink = std::function<bool(std::string_view chunk)>;

    struct Outcome {
        bool completed = false;  // the whole body was delivered
        long status = 0;         // HTTP status of the final response, 0 when none arrived
        bool refusedBySink = false;
        std::string error;  // libcurl's description when not completed
    };

    CurlRequest(const std::string& url, const HTTPSettings& settings, std::stop_token stop);
    ~CurlRequest();
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;

    // Fails the transfer when it takes longer than `limit` as a whole.
    void setTotalTimeout(std::chrono::seconds limit);
    // Fails the transfer when connecting, or any stretch without data, takes longer than `limit`.
    void setIdleTimeout(std::chrono::seconds limit);

    Outcome perform(const Sink& sink);

private:
    friend struct CurlCallbacks;

    CURL* handle_;
    std::stop_token stop_;
    const Sink* sink_ = nullptr;
    bool refusedBySink_ = false;
    char errorText_[256] = {};
};

}  // namespace kx
