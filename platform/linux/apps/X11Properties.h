#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xlib.h>

namespace kx::X11Properties {

// Reads of one window property each; a missing property, another type or a window that has gone
// give an empty result. `maxItems` bounds what is read, whatever the client put there.

// 32-bit items (CARDINAL, WINDOW, ATOM), as Xlib returns them.
std::vector<unsigned long> items32(Display* display, Window window, Atom property, Atom type, long maxItems);
// A text property of the given type (UTF8_STRING, STRING), repaired to valid UTF-8.
std::string text(Display* display, Window window, Atom property, Atom type, long maxBytes = 1024);
// WM_CLASS as (instance, class), repaired to valid UTF-8.
std::pair<std::string, std::string> wmClass(Display* display, Window window);
// The process id of the client that owns the window, through the X-Resource extension; none
// without the extension or for a client it cannot tell.
std::optional<long> clientPid(Display* display, Window window);
// Base name of the program a local process runs, or its command name; empty when unknown.
std::string executableOf(long pid);

}  // namespace kx::X11Properties
