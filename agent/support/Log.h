#pragma once

#include <string_view>

namespace kx::log {

// One line to standard error, prefixed with the time and "kestrix". Safe from any thread.
// Logging is sparse: state changes and failures, never one line per request.
void info(std::string_view message);
void error(std::string_view message);

}  // namespace kx::log
