#include "tests/platform/installed/DesktopProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdint>

namespace kx::testing {

struct DesktopProbe::State {
    Display* display = nullptr;
    Window settingsOwner = None;
};

namespace {

// A little-endian number of `bytes` bytes, or a text padded to four bytes.
void append(std::string& blob, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) blob += static_cast<char>(value >> (8 * i) & 0xff);
}
void append(std::string& blob, const std::string& text) {
    blob += text;
    blob.append((4 - text.size() % 4) % 4, '\0');
}

}  // namespace

std::unique_ptr<DesktopProbe> DesktopProbe::open() {
    auto state = std::make_unique<State>();
    state->display = XOpenDisplay(nullptr);
    if (!state->display) return nullptr;
    return std::unique_ptr<DesktopProbe>(new DesktopProbe(std::move(state)));
}

DesktopProbe::DesktopProbe(std::unique_ptr<State> state) : state_(std::move(state)) {}

DesktopProbe::~DesktopProbe() {
    stopSettings();
    XCloseDisplay(state_->display);
}

void DesktopProbe::publishSetting(const std::string& name, const std::string& value) {
    Display* display = state_->display;
    stopSettings();
    state_->settingsOwner = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    // Byte order (little), 3 unused, serial, one setting: type string, unused, name, serial, value.
    std::string blob(4, '\0');
    append(blob, 0, 4), append(blob, 1, 4), append(blob, 1, 2);
    append(blob, static_cast<std::uint32_t>(name.size()), 2), append(blob, name), append(blob, 0, 4);
    append(blob, static_cast<std::uint32_t>(value.size()), 4), append(blob, value);
    Atom settings = XInternAtom(display, "_XSETTINGS_SETTINGS", False);
    XChangeProperty(display, state_->settingsOwner, settings, settings, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(blob.data()), static_cast<int>(blob.size()));
    std::string selection = "_XSETTINGS_S" + std::to_string(DefaultScreen(display));
    XSetSelectionOwner(display, XInternAtom(display, selection.c_str(), False), state_->settingsOwner, CurrentTime);
    XSync(display, False);
}

void DesktopProbe::stopSettings() {
    if (state_->settingsOwner == None) return;
    XDestroyWindow(state_->display, state_->settingsOwner);
    XSync(state_->display, False);
    state_->settingsOwner = None;
}

}  // namespace kx::testing
