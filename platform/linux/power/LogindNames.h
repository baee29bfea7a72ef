#pragma once

// Where logind answers on the system bus, for every part of the agent that asks it something.
namespace kx::logind {

inline constexpr const char* service = "org.freedesktop.login1";
inline constexpr const char* managerPath = "/org/freedesktop/login1";
inline constexpr const char* manager = "org.freedesktop.login1.Manager";
inline constexpr const char* session = "org.freedesktop.login1.Session";

}  // namespace kx::logind
