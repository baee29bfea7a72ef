#pragma once

#include <chrono>
#include <string>

#include <X11/Xlib.h>

namespace kx {

// How long openDisplay waits for a server to answer, and how many openings may still be waiting
// on servers that never answered (each holds a thread until its server answers or goes away).
inline constexpr std::chrono::milliseconds displayOpenTimeLimit{2000};
inline constexpr int maxStalledDisplayOpenings = 8;

// Opens the named display (empty: the one DISPLAY names). Xlib is first made safe, once per
// process, for an agent that outlives its X server: threads enabled, protocol errors of our
// requests ignored (the request is skipped) instead of ending the process. When the connection
// breaks, *lost (when given) is set on the thread that noticed, instead of the process ending; the
// display is then only good for XCloseDisplay, from any thread. Null when the display cannot be
// reached, does not answer within the time limit, or too many earlier openings still wait.
Display* openDisplay(const std::string& name, bool* lost);

}  // namespace kx
