#pragma once

#include <string>

namespace kx {

// What a desktop window says about the program behind it, read from its properties (empty when a
// property is missing). These are all an application is recognised by.
struct WindowFacts {
    std::string gtkApplicationID;  // _GTK_APPLICATION_ID
    std::string wmClassInstance;   // WM_CLASS, first part (res_name)
    std::string wmClassClass;      // WM_CLASS, second part (res_class)
    std::string executable;        // base name of the program of the window's process

    bool operator==(const WindowFacts&) const = default;
};

}  // namespace kx
