#pragma once

#include <string>
#include <string_view>

namespace kx::LinuxSystemInfo {

// What the agent reports as its operating system: PRETTY_NAME of /etc/os-release (else
// /usr/lib/os-release), else NAME and VERSION_ID, else "Linux".
std::string osName();
// The same rule applied to the text of an os-release file.
std::string osNameFromRelease(std::string_view text);
// The machine's host name; "localhost" when the system reports none.
std::string hostName();

}  // namespace kx::LinuxSystemInfo
