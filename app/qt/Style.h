#pragma once

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QString>
#include <functional>
#include <string>

class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

#include "app/model/Theme.h"

namespace kx::Style {

inline QColor colour(const ThemeColour& c) {
    return QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green), static_cast<float>(c.blue),
                            static_cast<float>(c.alpha));
}

// "rgba(r, g, b, a)" for style sheets.
QString css(const ThemeColour& c);
// The style sheet of every Kestrix window: dark ground, light text, quiet buttons.
QString sheet();
// Point sizes of the window's texts.
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal, bool monospaced = false);

// A Kestrix window's look: its title and icon, the ground colour behind everything, the style sheet.
void window(QWidget* widget, const char* name, const char* title);
// A wrapping label; `role` names its style ("secondary", "section", "warn").
QLabel* label(const std::string& text, const char* role = nullptr);
// A button that runs the action when clicked; `role` names its style ("accent", "link", "danger").
QPushButton* button(const std::string& text, std::function<void()> action, const char* role = nullptr);
// A widget holding a column without margins, for one part of a window.
QWidget* column(QVBoxLayout*& layout, int spacing);
// Swaps the content of `host` (whose layout holds just it) for a new, empty widget, which it
// returns. The old one goes later: one of its buttons may be the one whose click led here.
QWidget* replaceContent(QWidget* host, QPointer<QWidget>& content);

}  // namespace kx::Style
