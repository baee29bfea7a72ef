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

bool onlyWayland() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    return wayland && *wayland && !(x11 && *x11);
}
}  // namespace

OnboardingWindow::OnboardingWindow(std::shared_ptr<PermissionCoordinator> permissions)
    : QWidget(nullptr, Qt::Window), permissions_(std::move(permissions)), waylandOnly_(onlyWayland()) {
    Style::window(this, "kestrix-setup", "Kestrix Setup");
    setFixedSize(contentSize);
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
    auto* shown = Style::label(command);
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
    QWidget* content = Style::replaceContent(this, content_);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(14);
    column->addWidget(Style::label("KESTRIX", "section"));
    auto* title = Style::label(PlatformText::setUpTitle);
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
    auto* headline = Style::label(panel.title);
    headline->setFont(Style::font(16, QFont::Medium));
    heading->addWidget(headline, 1);
    cardColumn->addLayout(heading);
    cardColumn->addWidget(Style::label(panel.body, "secondary"));
    auto* buttons = new QHBoxLayout;
    if (panel.settingsButton)
        buttons->addWidget(Style::button(
            PlatformText::openSettingsButton, [p = permissions_, r = *step.requirement] { p->request(r); }, "accent"));
    if (panel.checkAgainButton) buttons->addWidget(Style::button("Check again", [p = permissions_] { p->refresh(); }));
    if (panel.relaunchButton)
        buttons->addWidget(Style::button(
            "Restart Kestrix", [p = permissions_] { p->relaunch(); }, "accent"));
    buttons->addStretch(1);
    cardColumn->addLayout(buttons);
    if (!panel.help.empty()) cardColumn->addWidget(Style::label(panel.help, "secondary"));
    if (!panel.helpCommand.empty()) cardColumn->addWidget(commandRow(panel.helpCommand));
    column->addWidget(card);

    for (const auto& advisory : MenuTexts::advisories(permissions_->advisories())) {
        column->addWidget(Style::label(advisory.text, "warn"));
        if (!advisory.command.empty()) column->addWidget(commandRow(advisory.command));
    }
    column->addStretch(1);
    content->show();
}

}  // namespace kx
