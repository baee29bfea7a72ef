#include "app/qt/StatusOrb.h"

#include <QPainter>
#include <cmath>

#include "app/qt/Style.h"

namespace kx {

namespace {
constexpr int pulseSteps = 30;  // one breath
}

StatusOrb::StatusOrb(int diameter, QWidget* parent) : QWidget(parent), diameter_(diameter) {
    setFixedSize(diameter * 2, diameter * 2);
    pulse_.setInterval(pulseStepMs);
    connect(&pulse_, &QTimer::timeout, this, [this] {
        phase_ = (phase_ + 1) % pulseSteps;
        update();
    });
}

void StatusOrb::set(const ThemeColour& colour, bool pulsing) {
    colour_ = colour;
    if (pulsing && !pulse_.isActive()) pulse_.start();
    if (!pulsing) {
        pulse_.stop();
        phase_ = 0;
    }
    update();
}

void StatusOrb::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QPointF centre(width() / 2.0, height() / 2.0);
    double breath = pulse_.isActive() ? 0.5 + 0.5 * std::sin(phase_ * 2 * M_PI / pulseSteps) : 0.6;
    QColor halo = Style::colour(colour_);
    halo.setAlphaF(static_cast<float>(0.12 + 0.18 * breath));
    painter.setBrush(halo);
    painter.drawEllipse(centre, diameter_ * 0.95, diameter_ * 0.95);
    painter.setBrush(Style::colour(colour_));
    painter.drawEllipse(centre, diameter_ / 2.0, diameter_ / 2.0);
}

}  // namespace kx
