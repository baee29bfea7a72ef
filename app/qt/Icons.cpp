#include "app/qt/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "app/qt/Style.h"

namespace kx::Icons {

namespace {
constexpr int canvas = 64;

void drawWaves(QPainter& painter, const QColor& colour, double size) {
    QPointF centre(size / 2, size / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(centre, size * 0.09, size * 0.09);
    QPen pen(colour, size * 0.07, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    for (double radius : {size * 0.22, size * 0.36}) {
        QRectF arc(centre.x() - radius, centre.y() - radius, radius * 2, radius * 2);
        painter.drawArc(arc, -50 * 16, 100 * 16);  // right
        painter.drawArc(arc, 130 * 16, 100 * 16);  // left
    }
}

void drawWarning(QPainter& painter, const QColor& colour, double size) {
    QPainterPath triangle;
    triangle.moveTo(size * 0.5, size * 0.1);
    triangle.lineTo(size * 0.94, size * 0.88);
    triangle.lineTo(size * 0.06, size * 0.88);
    triangle.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(triangle);
    painter.setBrush(Style::colour(Theme::ground));
    painter.drawRoundedRect(QRectF(size * 0.46, size * 0.34, size * 0.08, size * 0.3), size * 0.03, size * 0.03);
    painter.drawEllipse(QPointF(size * 0.5, size * 0.74), size * 0.05, size * 0.05);
}

QPixmap blank(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}
}  // namespace

QIcon tray(bool ready, bool badged) {
    QPixmap pixmap = blank(canvas);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (ready)
        drawWaves(painter, Style::colour(Theme::accent), canvas);
    else
        drawWarning(painter, Style::colour(Theme::warn), canvas);
    if (badged) {
        // Clear a ring around the dot so it stands apart from the symbol.
        QPointF corner(canvas * 0.84, canvas * 0.16);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(corner, canvas * 0.16, canvas * 0.16);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setBrush(Style::colour(Theme::secondary));
        painter.drawEllipse(corner, canvas * 0.11, canvas * 0.11);
    }
    return QIcon(pixmap);
}

QIcon device(const std::string& freedesktopName) {
    QPixmap pixmap = blank(canvas);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(Style::colour(Theme::textPrimary), canvas * 0.06);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(canvas * 0.3, canvas * 0.1, canvas * 0.4, canvas * 0.8), canvas * 0.08,
                            canvas * 0.08);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::colour(Theme::textPrimary));
    painter.drawEllipse(QPointF(canvas * 0.5, canvas * 0.78), canvas * 0.035, canvas * 0.035);
    return QIcon::fromTheme(QString::fromStdString(freedesktopName), QIcon(pixmap));
}

QIcon application() {
    QPixmap pixmap = blank(canvas);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::colour(Theme::ground));
    painter.drawRoundedRect(QRectF(0, 0, canvas, canvas), canvas * 0.22, canvas * 0.22);
    painter.translate(canvas * 0.1, canvas * 0.1);
    drawWaves(painter, Style::colour(Theme::accent), canvas * 0.8);
    return QIcon::fromTheme("kestrix", QIcon(pixmap));
}

}  // namespace kx::Icons
