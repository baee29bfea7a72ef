#include "app/qt/Style.h"

#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "app/qt/Icons.h"

namespace kx::Style {

QString css(const ThemeColour& c) {
    return QString("rgba(%1, %2, %3, %4)")
        .arg(qRound(c.red * 255))
        .arg(qRound(c.green * 255))
        .arg(qRound(c.blue * 255))
        .arg(c.alpha);
}

QString sheet() {
    return QString(R"(
        QWidget { color: %1; }
        QLabel#secondary { color: %2; }
        QLabel#section { color: %2; font-size: 10px; font-weight: 600; letter-spacing: 1px; }
        QLabel#warn { color: %3; }
        QFrame#hairline { background: %4; max-height: 1px; min-height: 1px; border: none; }
        QFrame#surface { background: %5; border: 1px solid %4; border-radius: 12px; }
        QPushButton { background: %5; border: 1px solid %4; border-radius: 8px; padding: 5px 12px; color: %1; }
        QPushButton:hover { background: rgba(255, 255, 255, 0.09); }
        QPushButton:pressed { background: rgba(255, 255, 255, 0.14); }
        QPushButton:disabled { color: %2; }
        QPushButton#accent { background: %6; color: %7; border: none; font-weight: 600; }
        QPushButton#accent:hover { background: rgba(0, 229, 255, 0.85); }
        QPushButton#link { background: transparent; border: none; color: %2; padding: 5px 4px; }
        QPushButton#link:hover { color: %1; }
        QPushButton#danger { color: %8; }
        QCheckBox { spacing: 8px; }
        QCheckBox::indicator { width: 14px; height: 14px; border-radius: 4px; border: 1px solid %2; background: %5; }
        QCheckBox::indicator:checked { background: %6; border: 1px solid %6; }
        QProgressBar { background: %5; border: 1px solid %4; border-radius: 3px; max-height: 6px; }
        QProgressBar::chunk { background: %6; border-radius: 3px; }
    )")
        .arg(css(Theme::textPrimary), css(Theme::textSecondary), css(Theme::warn), css(Theme::hairline),
             css(Theme::surface), css(Theme::accent), css(Theme::ground), css(Theme::secondary));
}

QFont font(int pixelSize, QFont::Weight weight, bool monospaced) {
    QFont font = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

void window(QWidget* widget, const char* name, const char* title) {
    widget->setObjectName(name);
    widget->setWindowTitle(title);
    widget->setWindowIcon(Icons::application());
    widget->setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, colour(Theme::ground));
    widget->setPalette(palette);
    widget->setStyleSheet(sheet());
    widget->setFont(font(12));
}

QLabel* label(const std::string& text, const char* role) {
    auto* widget = new QLabel(QString::fromStdString(text));
    if (role) widget->setObjectName(role);
    widget->setWordWrap(true);
    return widget;
}

QPushButton* button(const std::string& text, std::function<void()> action, const char* role) {
    auto* widget = new QPushButton(QString::fromStdString(text));
    if (role) widget->setObjectName(role);
    widget->setCursor(Qt::PointingHandCursor);
    QObject::connect(widget, &QPushButton::clicked, [action = std::move(action)] { action(); });
    return widget;
}

QWidget* column(QVBoxLayout*& layout, int spacing) {
    auto* box = new QWidget;
    layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return box;
}

QWidget* replaceContent(QWidget* host, QPointer<QWidget>& content) {
    if (content) {
        content->hide();
        content->deleteLater();
    }
    content = new QWidget(host);
    host->layout()->addWidget(content);
    return content;
}

}  // namespace kx::Style
