#pragma once

#include <string_view>

namespace kx {

// Whether the text is a URL the browser may be asked to open: an absolute URL whose scheme,
// in any case, is http or https, with a host, and nothing a URL may not contain (spaces,
// control characters, unbalanced percent escapes ...).
bool isOpenableWebURL(std::string_view text);

}  // namespace kx
