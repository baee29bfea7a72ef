#pragma once

#include <chrono>
#include <optional>
#include <string>

#include <sdbus-c++/IConnection.h>

namespace kx::logind {

inline constexpr const char* service = "org.freedesktop.login1";
inline constexpr const char* managerPath = "/org/freedesktop/login1";
inline constexpr const char* manager = "org.freedesktop.login1.Manager";
inline constexpr const char* session = "org.freedesktop.login1.Session";
inline constexpr auto callTimeout = std::chrono::seconds(2);

// The object path of the login session this process belongs to, found by its process id; absent
// when it belongs to none (started outside a desktop session) or logind does not answer.
std::optional<std::string> ownSessionPath(sdbus::IConnection& bus);

}  // namespace kx::logind
