#include "daemon/StatusReport.h"

namespace kx {

void StatusReport::add(Contributor contributor) {
    std::lock_guard guard(lock_);
    contributors_.push_back(std::move(contributor));
}

std::vector<std::string> StatusReport::lines() const {
    std::vector<Contributor> contributors;
    {
        std::lock_guard guard(lock_);
        contributors = contributors_;
    }
    std::vector<std::string> all;
    for (const auto& contributor : contributors) {
        auto lines = contributor();
        all.insert(all.end(), lines.begin(), lines.end());
    }
    return all;
}

}  // namespace kx
