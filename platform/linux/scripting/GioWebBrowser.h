#pragma once

#include "agent/scripting/WebBrowsing.h"

namespace kx {

// The desktop's default web browser, started through GIO with the URL.
class GioWebBrowser final : public WebBrowsing {
public:
    void open(const std::string& url) override;
};

}  // namespace kx
