#pragma once

#include <string>
#include <vector>

namespace kx {

// The file manager, as the scriptable-application methods drive it. Paths are absolute and exist
// when they arrive here. Operations throw ScriptFailure.
class FileManaging {
public:
    virtual ~FileManaging() = default;

    // Shows the item selected in its folder and brings the file manager to the front.
    virtual void reveal(const std::string& path) = 0;
    // Opens a folder in the file manager, or a file in its default application.
    virtual void open(const std::string& path) = 0;
    // Whether selection() can work on this computer.
    virtual bool readsSelection() const = 0;
    // The absolute paths of the items selected in the front window.
    virtual std::vector<std::string> selection() = 0;
};

}  // namespace kx
