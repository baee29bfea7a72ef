#include "agent/support/Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace kx::log {

namespace {
std::mutex gLock;

void write(const char* level, std::string_view message) {
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
    std::lock_guard guard(gLock);
    std::fprintf(stderr, "%s kestrix%s: %.*s\n", stamp, level, static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
}
}  // namespace

void info(std::string_view message) {
    write("", message);
}
void error(std::string_view message) {
    write(" error", message);
}

}  // namespace kx::log
