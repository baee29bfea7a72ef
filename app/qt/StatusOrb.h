#pragma once

#include <QTimer>
#include <QWidget>

#include "app/model/Theme.h"

namespace kx {

// A coloured dot with a soft halo; it pulses when asked.
class StatusOrb : public QWidget {
public:
    explicit StatusOrb(int diameter = 10, QWidget* parent = nullptr);
    void set(const ThemeColour& colour, bool pulsing);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    static constexpr int pulseStepMs = 60;
    ThemeColour colour_;
    int diameter_;
    int phase_ = 0;
    QTimer pulse_;
};

}  // namespace kx
