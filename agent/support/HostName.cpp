#include "agent/support/HostName.h"

#include <arpa/inet.h>

#include <cctype>

namespace kx::HostName {

namespace {
bool isAddress(std::string_view host) {
    std::string text(host);
    unsigned char address[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, text.c_str(), address) == 1 || ::inet_pton(AF_INET6, text.c_str(), address) == 1;
}

bool isLabel(std::string_view label) {
    if (label.empty() || label.size() > maxLabelLength || label.front() == '-' || label.back() == '-') return false;
    for (unsigned char c : label)
        if (!(std::isalnum(c) && c < 0x80) && c != '-' && c != '_') return false;
    return true;
}
}  // namespace

std::optional<std::string> problem(std::string_view host) {
    if (host.empty()) return "the host is empty";
    if (host.size() > maxLength) return "the host is longer than " + std::to_string(maxLength) + " characters";
    if (host.find('\0') == std::string_view::npos && isAddress(host)) return std::nullopt;
    std::string_view rest = host.back() == '.' ? host.substr(0, host.size() - 1) : host;
    for (;;) {
        auto dot = rest.find('.');
        if (!isLabel(rest.substr(0, dot)))
            return "the host must be an IP address or a host name of letters, digits, hyphens and dots";
        if (dot == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(dot + 1);
    }
}

}  // namespace kx::HostName
