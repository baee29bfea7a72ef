#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// Runs the tmux executable with one argument list and turns every failure into the WireError
// the phone sees.
class TmuxRunner {
public:
    // Locates tmux; asked before every run.
    using Lookup = std::function<std::optional<std::string>()>;

    // `environment` is laid over this process's environment for every run (tests point
    // TMUX_TMPDIR at a private server with it); TERM and PATH are then set on top.
    TmuxRunner(Lookup lookup, std::map<std::string, std::string> environment);

    bool isAvailable() const { return lookup_().has_value(); }

    // Standard output as UTF-8. Throws "unsupported" when tmux is missing, "internal" when it
    // cannot start, and "target_not_found" when it exits non-zero unless `allowFailure`.
    std::string run(const std::vector<std::string>& arguments, bool allowFailure = false) const;

private:
    std::vector<std::string> childEnvironment() const;

    Lookup lookup_;
    std::map<std::string, std::string> environment_;
};

}  // namespace kx
