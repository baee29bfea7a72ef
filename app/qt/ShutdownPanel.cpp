#include "app/qt/ShutdownPanel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "app/qt/Style.h"

namespace kx {

namespace {
constexpr QSize panelSize{420, 140};
constexpr int insetTopBottom = 20;
constexpr int insetSides = 24;
constexpr int messageToButtons = 18;
constexpr int betweenButtons = 8;
constexpr int messageWidth = 372;
}  // namespace

// Titled and closable only: no minimise or maximise, above every other window.
ShutdownPanel::ShutdownPanel()
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowStaysOnTopHint) {
    Style::window(this, "kestrix-shutdown", "Kestrix");
    setFixedSize(panelSize);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(insetSides, insetTopBottom, insetSides, insetTopBottom);
    column->setSpacing(messageToButtons);
    message_ = new QLabel;
    message_->setObjectName("shutdown-message");
    message_->setFont(Style::font(14));
    message_->setWordWrap(true);
    message_->setFixedWidth(messageWidth);
    column->addWidget(message_);
    auto* row = new QHBoxLayout;
    row->setSpacing(betweenButtons);
    row->addStretch(1);
    auto* cancel = Style::button("Cancel", [this] {
        if (controller_) controller_->cancelPressed();
    });
    cancel->setDefault(true);
    row->addWidget(cancel);
    now_ = Style::button(
        "",
        [this] {
            if (controller_) controller_->nowPressed();
        },
        "accent");
    row->addWidget(now_);
    column->addLayout(row);
}

void ShutdownPanel::show(const std::string& message, const std::string& nowTitle, bool present) {
    message_->setText(QString::fromStdString(message));
    now_->setText(QString::fromStdString(nowTitle));
    if (!present) return;
    QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
    QWidget::show();
    raise();
    activateWindow();
}

void ShutdownPanel::closeEvent(QCloseEvent* event) {
    event->accept();
    if (controller_) controller_->closedByUser();
}

void ShutdownPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && controller_) return controller_->escapePressed();
    QWidget::keyPressEvent(event);
}

}  // namespace kx
