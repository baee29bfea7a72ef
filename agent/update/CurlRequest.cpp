#include "agent/update/CurlRequest.h"

#include <curl/curl.h>

#include <mutex>
#include <stdexcept>

namespace kx {

namespace {

constexpr long kHTTPOK = 200;
constexpr long kMaxRedirects = 5;
constexpr long kLowestSpeedBytesPerSecond = 1;
constexpr const char* kAllowedProtocols = "https";

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

long responseStatus(CURL* handle) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

}  // namespace

// libcurl's callbacks, with the exact signatures it expects.
struct CurlCallbacks {
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* request = static_cast<CurlRequest*>(self);
        std::size_t length = size * count;
        // Returning less than the length ends the transfer.
        if (responseStatus(request->handle_) != kHTTPOK) return 0;
        if (!(*request->sink_)(std::string_view(data, length))) {
            request->refusedBySink_ = true;
            return 0;
        }
        return length;
    }

    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<CurlRequest*>(self)->stop_.stop_requested() ? 1 : 0;
    }
};

CurlRequest::CurlRequest(const std::string& url, const HTTPSettings& settings, std::stop_token stop)
    : stop_(std::move(stop)) {
    initialiseCurlOnce();
    handle_ = curl_easy_init();
    if (!handle_) throw std::runtime_error("could not create an HTTP request");
    curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle_, CURLOPT_USERAGENT, settings.userAgent.c_str());
    curl_easy_setopt(handle_, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, kMaxRedirects);
    // Worker threads must not receive signals from name resolution time-outs.
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorText_);
    if (settings.caFile) curl_easy_setopt(handle_, CURLOPT_CAINFO, settings.caFile->c_str());
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CurlCallbacks::onBody);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &CurlCallbacks::onProgress);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
}

CurlRequest::~CurlRequest() {
    curl_easy_cleanup(handle_);
}

void CurlRequest::setTotalTimeout(std::chrono::seconds limit) {
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT, static_cast<long>(limit.count()));
}

void CurlRequest::setIdleTimeout(std::chrono::seconds limit) {
    curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(limit.count()));
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, kLowestSpeedBytesPerSecond);
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limit.count()));
}

CurlRequest::Outcome CurlRequest::perform(const Sink& sink) {
    sink_ = &sink;
    refusedBySink_ = false;
    errorText_[0] = '\0';
    CURLcode code = curl_easy_perform(handle_);
    sink_ = nullptr;

    Outcome outcome;
    outcome.status = responseStatus(handle_);
    outcome.refusedBySink = refusedBySink_;
    outcome.completed = code == CURLE_OK;
    if (!outcome.completed) outcome.error = errorText_[0] ? errorText_ : curl_easy_strerror(code);
    return outcome;
}

}  // namespace kx
