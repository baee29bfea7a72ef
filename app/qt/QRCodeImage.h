#pragma once

#include <QImage>
#include <optional>
#include <string>

namespace kx::QRCodeImage {

// Light modules around the code, as readers expect.
inline constexpr int quietZoneModules = 4;

// The text's UTF-8 bytes as a QR code at error-correction level H, each module `scale` pixels
// square, dark on white; absent when the text cannot be encoded.
std::optional<QImage> render(const std::string& text, int scale);

}  // namespace kx::QRCodeImage
