#include "agent/scripting/WebURL.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "agent/support/ASCIILowercase.h"

namespace kx {

namespace {

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// ASCII a URL may carry as it is; bytes of non-ASCII text (international names) pass as well.
bool isURLCharacter(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) return true;
    if (std::isalnum(byte)) return true;
    return std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

bool hasValidCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isURLCharacter(text[i])) return false;
        if (text[i] == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) return false;
    }
    return true;
}

bool isDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// The host of "[userinfo@]host[:port]", checked; empty when there is none or the port is not a number.
std::string_view hostOf(std::string_view authority) {
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (authority.starts_with('[')) {
        auto close = authority.find(']');
        if (close == std::string_view::npos) return {};
        auto rest = authority.substr(close + 1);
        if (!rest.empty() && (!rest.starts_with(':') || !isDigits(rest.substr(1)))) return {};
        return authority.substr(1, close - 1);
    }
    auto colon = authority.find(':');
    if (colon != std::string_view::npos && !isDigits(authority.substr(colon + 1))) return {};
    auto host = authority.substr(0, colon);
    if (host.find_first_of("[]") != std::string_view::npos) return {};
    return host;
}

}  // namespace

bool isOpenableWebURL(std::string_view text) {
    if (!hasValidCharacters(text)) return false;
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string scheme = asciiLowercase(text.substr(0, colon));
    if (scheme != "http" && scheme != "https") return false;
    auto rest = text.substr(colon + 1);
    if (!rest.starts_with("//")) return false;
    rest.remove_prefix(2);
    return !hostOf(rest.substr(0, rest.find_first_of("/?#"))).empty();
}

}  // namespace kx
