#pragma once

#include <QColor>
#include <QFont>
#include <QString>

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

}  // namespace kx::Style
