#pragma once

#include <memory>
#include <string>
#include <vector>

#include "agent/scripting/FileManaging.h"
#include "agent/scripting/WebBrowsing.h"

namespace kx {

// Drives the file manager and the web browser for the phone: checks what the phone sent before
// anything runs, and turns the applications' failures into what the phone is told. Throws WireError.
class ScriptableAppController {
public:
    ScriptableAppController(std::shared_ptr<FileManaging> files, std::shared_ptr<WebBrowsing> browser);

    bool readsFileSelection() const;
    void chromeOpen(const std::string& url) const;
    void finderReveal(const std::string& path) const;
    void finderOpen(const std::string& path) const;
    std::vector<std::string> finderSelection() const;

private:
    std::shared_ptr<FileManaging> files_;
    std::shared_ptr<WebBrowsing> browser_;
};

}  // namespace kx
