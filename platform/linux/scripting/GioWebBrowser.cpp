#include "platform/linux/scripting/GioWebBrowser.h"

#include "platform/linux/scripting/DefaultHandler.h"

namespace kx {

void GioWebBrowser::open(const std::string& url) {
    openWithDefaultHandler(url);
}

}  // namespace kx
