#include "app/qt/ConfirmRunWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "app/qt/Style.h"

namespace kx {

ConfirmRunWindow::ConfirmRunWindow(const PendingConfirmation& question, std::function<void(bool run)> answer)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowStaysOnTopHint),
      answer_(std::move(answer)) {
    Style::window(this, "kestrix-confirm", "Kestrix");
    setAttribute(Qt::WA_DeleteOnClose);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 20, 24, 20);
    column->setSpacing(18);
    auto* text = Style::label(question.question());
    text->setFont(Style::font(14));
    column->addWidget(text);
    column->addWidget(
        Style::label("A phone asked to run this saved command, which is marked as dangerous.", "secondary"));
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    auto* no = Style::button("Don't run", [this] { reply(false); });
    no->setDefault(true);
    row->addWidget(no);
    row->addWidget(Style::button(
        "Run", [this] { reply(true); }, "danger"));
    column->addLayout(row);
    setFixedWidth(420);
    adjustSize();
    setFixedSize(size());
    QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void ConfirmRunWindow::reply(bool run) {
    auto answer = std::move(answer_);
    answer_ = nullptr;
    if (answer) answer(run);
    close();
}

void ConfirmRunWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) return reply(false);
    QWidget::keyPressEvent(event);
}

void ConfirmRunWindow::closeEvent(QCloseEvent* event) {
    // Closed by its close box before an answer: the command does not run.
    if (auto answer = std::move(answer_)) answer(false);
    answer_ = nullptr;
    event->accept();
}

}  // namespace kx
