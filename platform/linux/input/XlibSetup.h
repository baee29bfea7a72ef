#pragma once

namespace kx {

// Makes Xlib safe for an agent that outlives its X server, once per process: threads enabled,
// protocol errors of our requests ignored (the request is skipped) instead of ending the process,
// and a lost connection left to each display's own exit handler (XSetIOErrorExitHandler).
void prepareXlib();

}  // namespace kx
