#include "platform/linux/scripting/FreedesktopFileManager.h"

#include <filesystem>
#include <system_error>

#include <sdbus-c++/sdbus-c++.h>

#include "agent/scripting/ScriptFailure.h"
#include "platform/linux/scripting/DefaultHandler.h"

namespace kx {

namespace {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kPath = "/org/freedesktop/FileManager1";
constexpr const char* kInterface = "org.freedesktop.FileManager1";
// No startup-notification id: the agent has no window whose launch the desktop could track.
const std::string kNoStartupID;

bool isTimeout(const sdbus::Error& error) {
    return error.getName() == "org.freedesktop.DBus.Error.Timeout" ||
           error.getName() == "org.freedesktop.DBus.Error.NoReply";
}

bool isFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

}  // namespace

FreedesktopFileManager::FreedesktopFileManager(BusOpener openBus) : openBus_(std::move(openBus)) {}

bool FreedesktopFileManager::show(const char* method, const std::string& uri) const {
    try {
        auto bus = openBus_();
        auto manager = sdbus::createProxy(*bus, kService, kPath);
        manager->callMethod(method)
            .onInterface(kInterface)
            .withTimeout(callTimeLimit)
            .withArguments(std::vector<std::string>{uri}, kNoStartupID);
        return true;
    } catch (const sdbus::Error& error) {
        if (isTimeout(error)) throw ScriptFailure(ScriptFailure::Reason::timedOut, {}, error.getMessage());
        return false;
    }
}

void FreedesktopFileManager::reveal(const std::string& path) {
    if (show("ShowItems", fileURI(path))) return;
    openWithDefaultHandler(fileURI(std::filesystem::path(path).parent_path()));
}

void FreedesktopFileManager::open(const std::string& path) {
    const std::string uri = fileURI(path);
    if (isFolder(path) && show("ShowFolders", uri)) return;
    openWithDefaultHandler(uri);
}

std::vector<std::string> FreedesktopFileManager::selection() {
    throw ScriptFailure(ScriptFailure::Reason::failed, {}, "the file manager's selection cannot be read here");
}

}  // namespace kx
