#include "agent/scripting/ScriptableAppController.h"

#include <filesystem>
#include <system_error>

#include "agent/scripting/ScriptFailure.h"
#include "agent/scripting/WebURL.h"
#include "agent/support/PlatformText.h"
#include "agent/support/UTF8.h"

namespace kx {

namespace {

void checkPath(const std::string& path) {
    if (!path.starts_with('/') || path.find('\0') != std::string::npos)
        throw WireError::invalidParams("Absolute path required");
    std::error_code error;
    if (!std::filesystem::exists(path, error)) throw WireError(ErrorCode::targetNotFound, "That path does not exist");
}

template <class Operation>
auto reported(Operation&& operation) {
    try {
        return operation();
    } catch (const ScriptFailure& failure) {
        throw failure.wireError();
    }
}

}  // namespace

ScriptableAppController::ScriptableAppController(std::shared_ptr<FileManaging> files,
                                                 std::shared_ptr<WebBrowsing> browser)
    : files_(std::move(files)), browser_(std::move(browser)) {}

bool ScriptableAppController::readsFileSelection() const {
    return files_->readsSelection();
}

void ScriptableAppController::chromeOpen(const std::string& url) const {
    if (!isOpenableWebURL(url)) throw WireError::invalidParams("Only http and https URLs");
    reported([&] { browser_->open(url); });
}

void ScriptableAppController::finderReveal(const std::string& path) const {
    checkPath(path);
    reported([&] { files_->reveal(path); });
}

void ScriptableAppController::finderOpen(const std::string& path) const {
    checkPath(path);
    reported([&] { files_->open(path); });
}

std::vector<std::string> ScriptableAppController::finderSelection() const {
    if (!files_->readsSelection()) throw WireError(ErrorCode::unsupported, PlatformText::fileSelectionUnsupported);
    auto paths = reported([&] { return files_->selection(); });
    for (auto& path : paths) path = repairUTF8(path);
    return paths;
}

}  // namespace kx
