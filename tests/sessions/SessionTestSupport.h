#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "agent/transport/CommandRouter.h"

namespace kx::testing {

// A folder of its own for one test, removed afterwards.
class TempFolder {
public:
    explicit TempFolder(const std::string& tag) {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("kx-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Dispatches one authenticated request and returns the response envelope.
inline Envelope call(const CommandRouter& router, const std::string& method, JSONObject params = {}) {
    static std::atomic<int> next{0};
    return router.dispatch(Envelope::request(std::to_string(next++), method, std::move(params)),
                           RequestContext{"device", true});
}

// The result of a call that must succeed (an empty object when it failed, with a test failure).
JSONObject succeed(const CommandRouter& router, const std::string& method, JSONObject params = {});
// The error of a call that must fail.
WireError fail(const CommandRouter& router, const std::string& method, JSONObject params = {});

}  // namespace kx::testing
