#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/model/LoginItem.h"

namespace kx {

// Open at login through an XDG autostart entry: $XDG_CONFIG_HOME/autostart/kestrix.desktop
// (~/.config by default) starts the app when the desktop session begins.
class AutostartLoginItem : public LoginItem {
public:
    static constexpr const char* entryName = "kestrix.desktop";

    // `command`: the program to start, with its arguments.
    AutostartLoginItem(std::filesystem::path entry, std::vector<std::string> command)
        : entry_(std::move(entry)), command_(std::move(command)) {}
    // The user's autostart folder; the path is empty when neither variable nor home is known.
    static std::filesystem::path standardEntry();

    Status status() const override;
    void set(bool on) override;

    // Quotes one argument of an Exec line as desktop entries require.
    static std::string quoted(const std::string& argument);

private:
    std::filesystem::path entry_;
    std::vector<std::string> command_;
};

}  // namespace kx
