#include "agent/transport/HandshakeAdmission.h"

#include <algorithm>
#include <map>

namespace kx {

HandshakeAdmission::HandshakeAdmission(std::size_t limit, std::size_t perSource)
    : limit_(std::max<std::size_t>(limit, 1)), perSource_(std::max<std::size_t>(perSource, 1)) {}

std::vector<HandshakeAdmission::Connection> HandshakeAdmission::admit(Connection connection,
                                                                      const std::string& source) {
    std::vector<Connection> evicted;
    auto fromSource = std::count_if(waiting_.begin(), waiting_.end(), [&](auto& w) { return w.source == source; });
    if (static_cast<std::size_t>(fromSource) >= perSource_)
        if (auto oldest = evictOldestFrom(source)) evicted.push_back(*oldest);
    if (waiting_.size() >= limit_)
        if (auto oldest = evictOne()) evicted.push_back(*oldest);
    waiting_.push_back({connection, source});
    return evicted;
}

void HandshakeAdmission::remove(Connection connection) {
    std::erase_if(waiting_, [&](const Waiting& w) { return w.connection == connection; });
}

std::optional<HandshakeAdmission::Connection> HandshakeAdmission::evictOne() {
    if (waiting_.empty()) return std::nullopt;
    std::map<std::string, std::size_t> counts;
    for (const auto& w : waiting_) ++counts[w.source];
    // The first of the heaviest sources in age order owns the oldest connection among them.
    const Waiting* chosen = &waiting_.front();
    for (const auto& w : waiting_)
        if (counts[w.source] > counts[chosen->source]) chosen = &w;
    return evictOldestFrom(std::string(chosen->source));
}

std::optional<HandshakeAdmission::Connection> HandshakeAdmission::evictOldestFrom(const std::string& source) {
    auto oldest = std::find_if(waiting_.begin(), waiting_.end(), [&](auto& w) { return w.source == source; });
    if (oldest == waiting_.end()) return std::nullopt;
    Connection connection = oldest->connection;
    waiting_.erase(oldest);
    return connection;
}

}  // namespace kx
