#pragma once

#include <string>

namespace kx {

// The web browser, as the scriptable-application methods drive it. Throws ScriptFailure.
class WebBrowsing {
public:
    virtual ~WebBrowsing() = default;

    // Opens an http or https URL (already checked) in a new tab and brings the browser to the front.
    virtual void open(const std::string& url) = 0;
};

}  // namespace kx
