#include "platform/linux/transport/LinuxSystemInfo.h"

#include <unistd.h>

#include <array>
#include <map>
#include <sstream>

#include "agent/support/AtomicFile.h"
#include "agent/support/UTF8.h"

namespace kx::LinuxSystemInfo {

namespace {
constexpr const char* fallbackOS = "Linux";
constexpr const char* fallbackHost = "localhost";
constexpr std::array<const char*, 2> releaseFiles = {"/etc/os-release", "/usr/lib/os-release"};
constexpr std::size_t hostNameBufferSize = 256;

// A value as the file format allows it: bare, or in single or double quotes with backslash escapes.
std::string unquote(std::string_view value) {
    if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') || value.back() != value.front())
        return std::string(value);
    std::string out;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size()) ++i;
        out += value[i];
    }
    return out;
}

std::map<std::string, std::string> parse(std::string_view text) {
    std::map<std::string, std::string> fields;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.front() == '#') continue;
        auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        fields[line.substr(0, equals)] = unquote(std::string_view(line).substr(equals + 1));
    }
    return fields;
}
}  // namespace

std::string osNameFromRelease(std::string_view text) {
    auto fields = parse(text);
    if (auto pretty = fields["PRETTY_NAME"]; !pretty.empty()) return pretty;
    std::string name = fields["NAME"];
    std::string version = fields["VERSION_ID"];
    if (name.empty()) return fallbackOS;
    return version.empty() ? name : name + " " + version;
}

std::string osName() {
    for (const char* file : releaseFiles)
        if (auto text = readWholeFile(file)) return repairUTF8(osNameFromRelease(*text));
    return fallbackOS;
}

std::string hostName() {
    std::array<char, hostNameBufferSize> buffer{};
    if (::gethostname(buffer.data(), buffer.size() - 1) != 0 || buffer[0] == '\0') return fallbackHost;
    // The name reaches phones in JSON: a byte that is not UTF-8 must not stop that.
    return repairUTF8(buffer.data());
}

}  // namespace kx::LinuxSystemInfo
