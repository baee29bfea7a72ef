#include "app/qt/OnboardingWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cstdlib>

#include "agent/permissions/PermissionCoordinator.h"
#include "agent/support/PlatformText.h"
#include "app/model/MenuTexts.h"
#include "app/qt/Icons.h"
#include "app/qt/StatusOrb.h"
#include "app/qt/Style.h"

namespace kx {

namespace {
constexpr QSize contentSize{520, 560};
constexpr int margin = 32;

QLabel* text(const std::string& value, const char* role = nullptr) {
    auto* widget = new QLabel(QString::fromStdString(value));
    if (role) widget->setObjectName(role);
    widget->setWordWrap(true);
    return widget;
}

QPushButton* action(const char* title, std::function<void()> run, const char* role = nullptr) {
    auto* widget = new QPushButton(title);
    if (role) widget->setObjectName(role);
    QObject::connect(widget, &QPushButton::clicked, [run = std::move(run)] { run(); });
    return widget;
}

bool onlyWayland() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    return wayland && *wayland && !(x11 && *x11);
}
}  // namespace

OnboardingWindow::OnboardingWindow(std::shared_ptr<PermissionCoordinator> permissions)
    : QWidget(nullptr, Qt::Window), permissions_(std::move(permissions)), waylandOnly_(onlyWayland()) {
    setObjectName("kestrix-setup");
    setWindowTitle("Kestrix Setup");
    setWindowIcon(Icons::application());
    setFixedSize(contentSize);
    setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, Style::colour(Theme::ground));
    setPalette(palette);
    setStyleSheet(Style::sheet());
    setFont(Style::font(12));
    new QVBoxLayout(this);
    layout()->setContentsMargins(0, 0, 0, 0);
}

void OnboardingWindow::present() {
    render();
    if (!isVisible()) {
        QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    activateWindow();
}

QWidget* OnboardingWindow::commandRow(const std::string& command) {
    auto* box = new QFrame;
    box->setObjectName("surface");
    auto* row = new QHBoxLayout(box);
    auto* shown = text(command);
    shown->setFont(Style::font(12, QFont::Normal, true));
    shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(shown, 1);
    auto* copy = new QPushButton("Copy");
    connect(copy, &QPushButton::clicked, copy, [copy, command] {
        QApplication::clipboard()->setText(QString::fromStdString(command));
        copy->setText("Copied");
    });
    row->addWidget(copy);
    return box;
}

void OnboardingWindow::render() {
    if (content_) {
        content_->hide();
        content_->deleteLater();
    }
    auto* content = new QWidget(this);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(14);
    column->addWidget(text("KESTRIX", "section"));
    auto* title = text(PlatformText::setUpTitle);
    title->setFont(Style::font(24, QFont::DemiBold));
    column->addWidget(title);

    const OnboardingStep& step = permissions_->step();
    auto panel = MenuTexts::onboardingPanel(step, waylandOnly_);
    auto* card = new QFrame;
    card->setObjectName("surface");
    auto* cardColumn = new QVBoxLayout(card);
    cardColumn->setContentsMargins(20, 18, 20, 18);
    cardColumn->setSpacing(10);
    auto* heading = new QHBoxLayout;
    auto* orb = new StatusOrb(12);
    orb->set(panel.orb, panel.pulsing);
    heading->addWidget(orb);
    auto* headline = text(panel.title);
    headline->setFont(Style::font(16, QFont::Medium));
    heading->addWidget(headline, 1);
    cardColumn->addLayout(heading);
    cardColumn->addWidget(text(panel.body, "secondary"));
    auto* buttons = new QHBoxLayout;
    if (panel.settingsButton)
        buttons->addWidget(action(
            PlatformText::openSettingsButton, [p = permissions_, r = *step.requirement] { p->request(r); }, "accent"));
    if (panel.checkAgainButton) buttons->addWidget(action("Check again", [p = permissions_] { p->refresh(); }));
    if (panel.relaunchButton)
        buttons->addWidget(action(
            "Restart Kestrix", [p = permissions_] { p->relaunch(); }, "accent"));
    buttons->addStretch(1);
    cardColumn->addLayout(buttons);
    if (!panel.help.empty()) cardColumn->addWidget(text(panel.help, "secondary"));
    if (!panel.helpCommand.empty()) cardColumn->addWidget(commandRow(panel.helpCommand));
    column->addWidget(card);

    for (const auto& advisory : MenuTexts::advisories(permissions_->advisories())) {
        column->addWidget(text(advisory.text, "warn"));
        if (!advisory.command.empty()) column->addWidget(commandRow(advisory.command));
    }
    column->addStretch(1);
    layout()->addWidget(content);
    content_ = content;
}

}  // namespace kx
