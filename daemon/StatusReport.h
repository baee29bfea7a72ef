#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kx {

// The lines of `kestrixd status`. The core adds its own; each method family may add a
// contributor that reports its state in a line or two.
class StatusReport {
public:
    using Contributor = std::function<std::vector<std::string>()>;

    void add(Contributor contributor);
    // Every contributor's lines, in the order they were added.
    std::vector<std::string> lines() const;

private:
    mutable std::mutex lock_;
    std::vector<Contributor> contributors_;
};

}  // namespace kx
