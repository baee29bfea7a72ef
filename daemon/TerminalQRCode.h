#pragma once

#include <string>

namespace kx::TerminalQRCode {

// `text` as a QR code drawn with half-block characters, two modules high per line, with a quiet
// zone around it. With `colours`, dark modules are black on a white field (ANSI escapes), so the
// code scans on dark terminals too. Throws std::runtime_error when the text cannot be encoded.
std::string render(const std::string& text, bool colours);

}  // namespace kx::TerminalQRCode
