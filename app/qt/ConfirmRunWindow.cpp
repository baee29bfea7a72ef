#include "app/qt/ConfirmRunWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "app/qt/Icons.h"
#include "app/qt/Style.h"

namespace kx {

ConfirmRunWindow::ConfirmRunWindow(const PendingConfirmation& question, std::function<void(bool run)> answer)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowStaysOnTopHint),
      answer_(std::move(answer)) {
    setObjectName("kestrix-confirm");
    setWindowTitle("Kestrix");
    setWindowIcon(Icons::application());
    setAttribute(Qt::WA_DeleteOnClose);
    setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, Style::colour(Theme::ground));
    setPalette(palette);
    setStyleSheet(Style::sheet());
    setFont(Style::font(12));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 20, 24, 20);
    column->setSpacing(18);
    auto* text = new QLabel(QString::fromStdString(question.question()));
    text->setFont(Style::font(14));
    text->setWordWrap(true);
    column->addWidget(text);
    auto* note = new QLabel("A phone asked to run this saved command, which is marked as dangerous.");
    note->setObjectName("secondary");
    note->setWordWrap(true);
    column->addWidget(note);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    auto* no = new QPushButton("Don't run");
    no->setDefault(true);
    connect(no, &QPushButton::clicked, this, [this] { reply(false); });
    row->addWidget(no);
    auto* yes = new QPushButton("Run");
    yes->setObjectName("danger");
    connect(yes, &QPushButton::clicked, this, [this] { reply(true); });
    row->addWidget(yes);
    column->addLayout(row);
    setFixedWidth(420);
    adjustSize();
    QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void ConfirmRunWindow::reply(bool run) {
    auto answer = std::move(answer_);
    answer_ = nullptr;
    if (answer) answer(run);
    close();
}

void ConfirmRunWindow::closeEvent(QCloseEvent* event) {
    // Closed by its close box before an answer: the command does not run.
    if (auto answer = std::move(answer_)) answer(false);
    answer_ = nullptr;
    event->accept();
}

}  // namespace kx
