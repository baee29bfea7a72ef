// Qt only: X11 headers stay out of this file (their macros clash with Qt's names).
#include "platform/linux/installed/IconImage.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>

namespace kx {

namespace {

// Icon files beyond this are not icons; it also bounds what an SVG parse may take.
constexpr qint64 maxFileBytes = 4 * 1024 * 1024;

std::optional<std::string> encode(const QImage& square) {
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !square.save(&buffer, "PNG")) return std::nullopt;
    QByteArray text = png.toBase64();
    if (text.isEmpty() || static_cast<std::size_t>(text.size()) > IconImage::maxTextLength) return std::nullopt;
    return text.toStdString();
}

QImage transparentSquare() {
    QImage square(IconImage::side, IconImage::side, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    return square;
}

QRectF fitted(QSizeF size) {
    if (size.isEmpty()) return {};
    QSizeF scaled = size.scaled(IconImage::side, IconImage::side, Qt::KeepAspectRatio);
    return {(IconImage::side - scaled.width()) / 2, (IconImage::side - scaled.height()) / 2, scaled.width(),
            scaled.height()};
}

std::optional<std::string> fromRaster(const QImage& image) {
    if (image.isNull()) return std::nullopt;
    QImage square = transparentSquare();
    QRectF target = fitted(image.size());
    QImage scaled = image.scaled(target.size().toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&square);
    painter.drawImage(target.topLeft(), scaled);
    painter.end();
    return encode(square);
}

std::optional<std::string> fromSVG(const QByteArray& svg) {
    // Text would need the font database, which exists only with a QGuiApplication; an element
    // named text, tspan, textPath or font (with or without a namespace prefix) refuses the file.
    for (const char* element : {"<text", ":text", "<tspan", ":tspan", "<font", ":font"})
        if (svg.contains(element)) return std::nullopt;
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) return std::nullopt;
    QImage square = transparentSquare();
    QPainter painter(&square);
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    renderer.render(&painter, QRectF(0, 0, IconImage::side, IconImage::side));
    painter.end();
    return encode(square);
}

}  // namespace

std::optional<std::string> IconImage::fromFile(const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    if (file.size() > maxFileBytes || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray content = file.read(maxFileBytes);
    file.close();
    if (path.extension() == ".svg") return fromSVG(content);

    QBuffer buffer(&content);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QSize size = reader.size();
    if (size.width() > maxSourceSide || size.height() > maxSourceSide) return std::nullopt;
    return fromRaster(reader.read());
}

std::optional<std::string> IconImage::fromARGB(int width, int height, std::span<const std::uint32_t> pixels) {
    if (width <= 0 || height <= 0 || width > maxSourceSide || height > maxSourceSide ||
        pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return std::nullopt;
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return std::nullopt;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) line[x] = pixels[static_cast<std::size_t>(y) * width + x];
    }
    return fromRaster(image);
}

}  // namespace kx
