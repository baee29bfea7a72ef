#include "platform/linux/desktop/AutostartLoginItem.h"

#include <cstdlib>
#include <stdexcept>

#include "agent/support/AtomicFile.h"

namespace kx {

namespace {
// A larger file is not one we wrote.
constexpr std::size_t maxEntryBytes = 16 * 1024;
}  // namespace

std::filesystem::path AutostartLoginItem::standardEntry() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return std::filesystem::path(config) / "autostart" / entryName;
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::filesystem::path(home) / ".config" / "autostart" / entryName;
    return {};
}

LoginItem::Status AutostartLoginItem::status() const {
    if (entry_.empty()) return Status::disabled;
    try {
        std::string text = readRegularFile(entry_, maxEntryBytes);
        // A desktop that was told to skip the entry marks it hidden.
        if (text.find("\nHidden=true") != std::string::npos) return Status::disabled;
        return Status::enabled;
    } catch (const std::exception&) {
        return Status::disabled;
    }
}

void AutostartLoginItem::set(bool on) {
    if (entry_.empty()) throw std::runtime_error("there is no configuration folder (HOME is not set)");
    if (!on) {
        std::error_code error;
        std::filesystem::remove(entry_, error);
        if (error) throw std::runtime_error("cannot remove " + entry_.string() + ": " + error.message());
        return;
    }
    std::string exec;
    for (const auto& argument : command_) exec += (exec.empty() ? "" : " ") + quoted(argument);
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Kestrix\n"
        "Comment=Control this computer from your phone\n"
        "Exec=" +
        exec +
        "\n"
        "Icon=kestrix\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    std::filesystem::create_directories(entry_.parent_path());
    writeFileAtomically(entry_, text);
}

std::string AutostartLoginItem::quoted(const std::string& argument) {
    bool plain = !argument.empty() && argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`%=") == std::string::npos;
    if (plain) return argument;
    std::string text = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') text += "\\\\";
        if (c == '%') {
            text += "%%";
            continue;
        }
        text += c;
    }
    return text + "\"";
}

}  // namespace kx
