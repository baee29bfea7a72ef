#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// Runs the tmux executable with one argument list and turns every failure into the WireError
// the phone sees. tmux always runs in UTF-8 mode, whatever this process's locale: otherwise it
// replaces every non-ASCII character of names and text with "_".
class TmuxRunner {
public:
    // Locates tmux; asked before every run.
    using Lookup = std::function<std::optional<std::string>()>;

    // How long one tmux run may take before its process group is killed.
    static constexpr std::chrono::milliseconds defaultTimeLimit{5000};
    // The longest single argument the kernel passes to a new program (MAX_ARG_STRLEN, 32 pages),
    // counting the terminating NUL.
    static constexpr std::size_t maxArgumentBytes = 131072;
    // The UTF-8 locale tmux's children get when this process has none; present wherever glibc is
    // 2.35 or newer, and on Debian and Ubuntu before that.
    static constexpr const char* utf8Locale = "C.UTF-8";

    // `environment` is laid over this process's environment for every run (tests point
    // TMUX_TMPDIR at a private server with it); TERM, PATH and a UTF-8 locale are then set on top.
    TmuxRunner(Lookup lookup, std::map<std::string, std::string> environment,
               std::chrono::milliseconds timeLimit = defaultTimeLimit);

    bool isAvailable() const { return lookup_().has_value(); }

    static bool fitsOneArgument(std::string_view text) { return text.size() < maxArgumentBytes; }

    // Standard output as UTF-8. Throws "unsupported" when tmux is missing, "internal" when it
    // cannot start, "timeout" when it outlives the time limit, and "target_not_found" when it
    // exits non-zero unless `allowFailure`.
    std::string run(const std::vector<std::string>& arguments, bool allowFailure = false) const;

private:
    std::vector<std::string> childEnvironment() const;

    Lookup lookup_;
    std::map<std::string, std::string> environment_;
    std::chrono::milliseconds timeLimit_;
};

}  // namespace kx
