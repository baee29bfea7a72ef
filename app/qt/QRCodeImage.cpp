#include "app/qt/QRCodeImage.h"

#include <qrencode.h>

#include <memory>

namespace kx::QRCodeImage {

std::optional<QImage> render(const std::string& text, int scale) {
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
                          QR_ECLEVEL_H),
        &QRcode_free);
    if (!code || scale < 1) return std::nullopt;
    const int modules = code->width + 2 * quietZoneModules;
    QImage image(modules * scale, modules * scale, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x) {
            if (!(code->data[y * code->width + x] & 1)) continue;
            for (int dy = 0; dy < scale; ++dy) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine((y + quietZoneModules) * scale + dy));
                for (int dx = 0; dx < scale; ++dx) line[(x + quietZoneModules) * scale + dx] = qRgb(0, 0, 0);
            }
        }
    return image;
}

}  // namespace kx::QRCodeImage
