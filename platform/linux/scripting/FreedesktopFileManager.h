#pragma once

#include <chrono>

#include "agent/scripting/FileManaging.h"
#include "platform/linux/power/BusOpener.h"

namespace kx {

// The file manager through the org.freedesktop.FileManager1 interface on the session bus:
// ShowItems reveals, ShowFolders opens a folder. Without a file manager on the bus, folders (for
// reveal, the item's folder) open in the desktop's default handler; files always do. No file
// manager tells others what is selected in it, so selection() is not offered.
class FreedesktopFileManager final : public FileManaging {
public:
    // The longest a file manager may take to answer; one that is started on demand included.
    static constexpr std::chrono::seconds callTimeLimit{5};

    explicit FreedesktopFileManager(BusOpener openBus = sessionBusOpener());

    void reveal(const std::string& path) override;
    void open(const std::string& path) override;
    bool readsSelection() const override { return false; }
    std::vector<std::string> selection() override;

private:
    // False when no file manager on the bus took the request.
    bool show(const char* method, const std::string& uri) const;

    BusOpener openBus_;
};

}  // namespace kx
