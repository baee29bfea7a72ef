#pragma once

#include <string>

namespace kx {

// Opens a URI in the application the desktop chose for it (a browser for web addresses, the file
// manager for folders) through GIO, which starts it detached from the agent. Throws ScriptFailure
// when no application handles it or it cannot be started.
void openWithDefaultHandler(const std::string& uri);

// The file: URI of an absolute path, every byte that needs it percent-encoded.
std::string fileURI(const std::string& path);

}  // namespace kx
