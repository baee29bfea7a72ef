#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "app/model/ShutdownPanelController.h"

namespace kx {

// A small window above all others, centred, that announces a pending shutdown or restart.
class ShutdownPanel : public QWidget, public ShutdownPanelView {
public:
    ShutdownPanel();
    // Set once, before the first update.
    void setController(ShutdownPanelController* controller) { controller_ = controller; }

    bool isVisible() const override { return QWidget::isVisible(); }
    void show(const std::string& message, const std::string& nowTitle, bool present) override;
    void close() override { QWidget::close(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    ShutdownPanelController* controller_ = nullptr;
    QLabel* message_;
    QPushButton* now_;
};

}  // namespace kx
