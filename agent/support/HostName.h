#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kx::HostName {

// Longest name DNS allows in text form.
inline constexpr std::size_t maxLength = 253;
// Longest label between two dots.
inline constexpr std::size_t maxLabelLength = 63;

// Why `host` cannot be handed to a phone as the address of this computer, or nothing when it can:
// an IPv4 or IPv6 address, or a host name of ASCII letters, digits, hyphens and underscores in
// dot-separated labels.
std::optional<std::string> problem(std::string_view host);

}  // namespace kx::HostName
