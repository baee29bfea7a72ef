#include "platform/linux/apps/X11Properties.h"

#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <filesystem>
#include <fstream>

#include "agent/support/UTF8.h"

namespace kx::X11Properties {

std::vector<unsigned long> items32(Display* display, Window window, Atom property, Atom type, long maxItems) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;
    if (XGetWindowProperty(display, window, property, 0, maxItems, False, type, &actualType, &format, &count, &after,
                           &data) == Success &&
        data && actualType == type && format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    }
    if (data) XFree(data);
    return items;
}

std::string text(Display* display, Window window, Atom property, Atom type, long maxBytes) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string value;
    // The length is in 32-bit units.
    if (XGetWindowProperty(display, window, property, 0, (maxBytes + 3) / 4, False, type, &actualType, &format, &count,
                           &after, &data) == Success &&
        data && actualType == type && format == 8) {
        value.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data) XFree(data);
    return repairUTF8(value);
}

std::pair<std::string, std::string> wmClass(Display* display, Window window) {
    XClassHint hint{};
    std::pair<std::string, std::string> names;
    if (XGetClassHint(display, window, &hint)) {
        if (hint.res_name) names.first = repairUTF8(hint.res_name);
        if (hint.res_class) names.second = repairUTF8(hint.res_class);
    }
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return names;
}

std::optional<long> clientPid(Display* display, Window window) {
    int eventBase = 0, errorBase = 0;
    if (!XResQueryExtension(display, &eventBase, &errorBase)) return std::nullopt;
    XResClientIdSpec wanted{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    std::optional<long> pid;
    if (XResQueryClientIds(display, 1, &wanted, &count, &values) == Success) {
        for (long i = 0; i < count && !pid; ++i) {
            if (XResGetClientIdType(&values[i]) != XRES_CLIENT_ID_PID) continue;
            if (pid_t found = XResGetClientPid(&values[i]); found > 0) pid = found;
        }
        XResClientIdsDestroy(count, values);
    }
    return pid;
}

std::string executableOf(long pid) {
    if (pid <= 0) return {};
    const std::filesystem::path process = "/proc/" + std::to_string(pid);
    std::error_code error;
    auto program = std::filesystem::read_symlink(process / "exe", error);
    if (!error) return repairUTF8(program.filename().string());
    // Another user's process hides its program; its command name is still readable.
    std::ifstream comm(process / "comm");
    std::string name;
    std::getline(comm, name);
    return repairUTF8(name);
}

}  // namespace kx::X11Properties
