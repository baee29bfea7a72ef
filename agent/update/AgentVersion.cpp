#include "agent/update/AgentVersion.h"

#include <vector>

namespace kx {

namespace {

constexpr std::string_view kDevelopmentSuffix = "-dev";
constexpr std::size_t kComponentCount = 3;
// Nine digits always fit a 32-bit integer, so no text can overflow.
constexpr std::size_t kMaxComponentDigits = 9;

std::optional<std::int64_t> parseComponent(std::string_view piece) {
    if (piece.empty() || piece.size() > kMaxComponentDigits) return std::nullopt;
    std::int64_t value = 0;
    for (char c : piece) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::vector<std::string_view> splitAtDots(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        auto dot = text.find('.', start);
        pieces.push_back(text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) return pieces;
        start = dot + 1;
    }
}

}  // namespace

std::optional<AgentVersion> AgentVersion::parse(std::string_view text) {
    AgentVersion version;
    if (text.ends_with(kDevelopmentSuffix)) {
        version.isDevelopment = true;
        text.remove_suffix(kDevelopmentSuffix.size());
    }
    auto pieces = splitAtDots(text);
    if (pieces.size() != kComponentCount) return std::nullopt;
    for (std::size_t i = 0; i < kComponentCount; ++i) {
        auto component = parseComponent(pieces[i]);
        if (!component) return std::nullopt;
        version.components[i] = *component;
    }
    return version;
}

std::string AgentVersion::description() const {
    std::string text =
        std::to_string(components[0]) + "." + std::to_string(components[1]) + "." + std::to_string(components[2]);
    if (isDevelopment) text += kDevelopmentSuffix;
    return text;
}

std::strong_ordering operator<=>(const AgentVersion& a, const AgentVersion& b) {
    if (auto order = a.components <=> b.components; order != 0) return order;
    // Same number: the development build comes first.
    return b.isDevelopment <=> a.isDevelopment;
}

}  // namespace kx
