#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kx {

// Starts `argv` (argv[0] is the program; looked up on PATH when it has no "/") detached from this
// process: a session of its own, standard input, output and error on /dev/null, no other inherited
// descriptor, this process's environment. Never waits for it. Returns its process id, or absent
// when it could not be started.
std::optional<pid_t> spawnDetached(const std::vector<std::string>& argv);

}  // namespace kx
