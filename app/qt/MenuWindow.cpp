#include "app/qt/MenuWindow.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "agent/permissions/PermissionCoordinator.h"
#include "agent/support/PlatformText.h"
#include "app/model/AgentModel.h"
#include "app/model/MenuTexts.h"
#include "app/qt/Icons.h"
#include "app/qt/QRCodeImage.h"
#include "app/qt/StatusOrb.h"
#include "app/qt/Style.h"

namespace kx {

namespace {
constexpr int margin = 16;
constexpr int qrSide = 200;
constexpr int qrScale = 8;
constexpr int gapFromIcon = 6;
constexpr int cornerInset = 8;
// The click on the tray icon that took the activation away (and so hid the window) arrives this soon after.
constexpr int reopenGuardMs = 300;
constexpr int refreshMs = 1000;
constexpr int clickSettleMs = 150;

QFrame* hairline() {
    auto* line = new QFrame;
    line->setObjectName("hairline");
    return line;
}

QLabel* coloured(const MenuTexts::Styled& styled, const QFont& font) {
    auto* widget = Style::label(styled.text);
    widget->setFont(font);
    widget->setStyleSheet("color: " + Style::css(styled.colour) + ";");
    return widget;
}
}  // namespace

MenuWindow::MenuWindow(std::shared_ptr<AgentModel> model, std::shared_ptr<PermissionCoordinator> permissions,
                       std::function<void()> quit)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      model_(std::move(model)),
      permissions_(std::move(permissions)),
      quit_(std::move(quit)) {
    setObjectName("kestrix-menu");
    setWindowTitle("Kestrix");
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(Style::sheet());
    setFont(Style::font(12));
    setFixedWidth(width);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    refresh_.setInterval(refreshMs);
    connect(&refresh_, &QTimer::timeout, this, [this] { model_->refreshDevices(); });
    qApp->installEventFilter(this);
}

void MenuWindow::toggle(const QRect& iconGeometry) {
    if (isVisible()) return hide();
    if (hiddenAt_.isValid() && hiddenAt_.elapsed() < reopenGuardMs) return;
    // Shown once the click has ended: the click activates the icon's own window, which would
    // otherwise take the activation straight back from this one.
    QTimer::singleShot(clickSettleMs, this, [this, iconGeometry] { present(iconGeometry); });
}

void MenuWindow::present(const QRect& iconGeometry) {
    // Opening the window starts the agent once onboarding is done.
    if (permissions_->step().isReady()) model_->startIfNeeded();
    model_->refreshDevices();
    rebuild();
    place(iconGeometry);
    show();
    raise();
    activateWindow();
    refresh_.start();
}

void MenuWindow::place(const QRect& icon) {
    adjustSize();
    QScreen* screen = icon.isValid() ? QGuiApplication::screenAt(icon.center()) : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    QRect area = screen->availableGeometry();
    QPoint at;
    if (icon.isValid()) {
        // Below an icon at the top, above one at the bottom; right edges aligned.
        bool top = icon.center().y() < area.center().y();
        at = QPoint(icon.right() - width + 1, top ? icon.bottom() + gapFromIcon : icon.top() - height() - gapFromIcon);
    } else {
        at = QPoint(area.right() - width - cornerInset, area.top() + cornerInset);
    }
    at.setX(std::clamp(at.x(), area.left() + cornerInset, area.right() - width - cornerInset));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    move(at);
}

bool MenuWindow::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        hide();
        return true;
    }
    // Like a menu, it closes when the user turns to another window.
    if (event->type() == QEvent::WindowDeactivate && isVisible()) hide();
    if (event->type() == QEvent::Hide) {
        mouseHeld_ = spaceHeld_ = rebuildWaiting_ = false;
        refresh_.stop();
        hiddenAt_.start();
    }
    return QWidget::event(event);
}

void MenuWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), Theme::radius, Theme::radius);
    painter.fillPath(shape, Style::colour(Theme::ground));
    painter.setPen(QPen(Style::colour(Theme::hairline), 1));
    painter.drawPath(shape);
}

// A rebuild replaces every button, and the window changes every second while it shows (last-seen
// lines, the pairing countdown): one between a button's press and its release would lose the click.
// Changes that come meanwhile are shown once the mouse button or the space bar is let go.
void MenuWindow::render() {
    if (!isVisible()) return;
    if (mouseHeld_ || spaceHeld_) {
        rebuildWaiting_ = true;
        return;
    }
    rebuild();
}

bool MenuWindow::eventFilter(QObject* watched, QEvent* event) {
    auto onThisWindow = [&] { return watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this; };
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
            if (!onThisWindow()) return false;
            mouseHeld_ = static_cast<QMouseEvent*>(event)->buttons() != Qt::NoButton;
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            // A focused button goes down on Space and clicks when it comes up.
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() != Qt::Key_Space || key->isAutoRepeat() || !onThisWindow()) return false;
            spaceHeld_ = event->type() == QEvent::KeyPress;
            break;
        }
        default: return false;
    }
    if (!mouseHeld_ && !spaceHeld_ && rebuildWaiting_) {
        rebuildWaiting_ = false;
        // After the release has reached its button, so that the click counts first.
        QTimer::singleShot(0, this, [this] { render(); });
    }
    return false;
}

// The focused control of the content as its text and its place among the controls with that text
// (every phone's row has a "Revoke"), so that the same control of new content can take the focus.
std::optional<std::pair<QString, int>> MenuWindow::focusedControl() const {
    auto* focused = qobject_cast<QAbstractButton*>(focusWidget());
    if (!focused || !content_) return std::nullopt;
    int place = 0;
    for (auto* control : content_->findChildren<QAbstractButton*>()) {
        if (control == focused) return std::make_pair(focused->text(), place);
        if (control->text() == focused->text()) ++place;
    }
    return std::nullopt;
}

void MenuWindow::refocus(const std::pair<QString, int>& control) {
    int place = 0;
    for (auto* candidate : content_->findChildren<QAbstractButton*>())
        if (candidate->text() == control.first && place++ == control.second)
            return candidate->setFocus(Qt::OtherFocusReason);
}

void MenuWindow::rebuild() {
    const auto focused = focusedControl();
    QWidget* content = Style::replaceContent(this, content_);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(12);
    column->addWidget(header());
    if (model_->pairingPayload() || model_->isPairing()) {
        column->addWidget(hairline());
        column->addWidget(pairingSection());
    }
    column->addWidget(hairline());
    column->addWidget(devicesSection());
    column->addWidget(hairline());
    column->addWidget(settingsSection());
    if (permissions_->step().isReady()) {
        column->addWidget(hairline());
        column->addWidget(footer());
    }
    content->show();  // now, not at the next turn of the loop: the size below must include it
    if (focused) refocus(*focused);
    if (isVisible()) {
        QPoint topRight = geometry().topRight();
        adjustSize();
        if (geometry().topRight() != topRight) move(topRight.x() - width + 1, topRight.y());
    }
}

QWidget* MenuWindow::header() {
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto status = MenuTexts::status(permissions_->step(), model_->transportState(), model_->connectionCount());
    auto* orb = new StatusOrb(10);
    orb->set(status.colour, permissions_->step().which == OnboardingStep::Case::checking ||
                                model_->transportState().which == TransportState::Case::starting);
    row->addWidget(orb, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = Style::label(status.text);
    title->setFont(Style::font(13, QFont::Medium));
    texts->addWidget(title);
    if (auto line = MenuTexts::listeningLine(model_->agentName(), model_->transportState())) {
        auto* detail = Style::label(*line, "secondary");
        detail->setFont(Style::font(11, QFont::Normal, true));
        texts->addWidget(detail);
    }
    if (auto error = model_->startupError()) texts->addWidget(Style::label(*error, "warn"));
    row->addLayout(texts, 1);
    return box;
}

QWidget* MenuWindow::pairingSection() {
    QVBoxLayout* column;
    auto* box = Style::column(column, 8);
    if (const auto& payload = model_->pairingPayload()) {
        if (auto image = QRCodeImage::render(payload->encoded(), qrScale)) {
            auto* code = new QLabel;
            code->setObjectName("pairing-code");
            // Scaled without smoothing, so modules stay sharp.
            code->setPixmap(
                QPixmap::fromImage(image->scaled(qrSide, qrSide, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
            code->setFixedSize(qrSide, qrSide);
            column->addWidget(code, 0, Qt::AlignHCenter);
        }
    }
    auto* caption = Style::label("Scan with Kestrix on your phone");
    caption->setAlignment(Qt::AlignHCenter);
    column->addWidget(caption);
    auto expiry = MenuTexts::expiryLine(model_->pairingSecondsRemaining());
    auto* line = coloured(expiry, Style::font(11));
    line->setAlignment(Qt::AlignHCenter);
    column->addWidget(line);
    column->addWidget(Style::button("Cancel", [model = model_] { model->cancelPairing(); }), 0, Qt::AlignHCenter);
    return box;
}

QWidget* MenuWindow::devicesSection() {
    QVBoxLayout* column;
    auto* box = Style::column(column, 8);
    column->addWidget(Style::label("PHONES", "section"));
    if (model_->devices().empty()) column->addWidget(Style::label("No phones paired yet.", "secondary"));
    for (const auto& device : model_->devices()) {
        auto* rowBox = new QFrame;
        rowBox->setObjectName("surface");
        auto* row = new QHBoxLayout(rowBox);
        row->setContentsMargins(10, 8, 10, 8);
        auto* icon = new QLabel;
        icon->setPixmap(Icons::device(MenuTexts::deviceIconName(device)).pixmap(22, 22));
        row->addWidget(icon);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto* name = Style::label(device.name);
        name->setObjectName("device-name");
        name->setFont(Style::font(12, QFont::Medium));
        texts->addWidget(name);
        texts->addWidget(Style::label(MenuTexts::lastSeen(device, model_->now()), "secondary"));
        row->addLayout(texts, 1);
        bool confirming = model_->isConfirmingRevoke(device.id);
        row->addWidget(Style::button(
            confirming ? "Sure?" : "Revoke", [model = model_, id = device.id] { model->pressRevoke(id); },
            confirming ? "danger" : nullptr));
        column->addWidget(rowBox);
    }
    auto* actions = new QHBoxLayout;
    actions->addWidget(Style::button(
        "Pair a phone\u2026", [model = model_] { model->beginPairing(); }, "accent"));
    if (!model_->devices().empty())
        actions->addWidget(Style::button(model_->lastRingResult().value_or("Ring my phone"),
                                         [model = model_] { model->ringDevices(); }));
    actions->addStretch(1);
    column->addLayout(actions);
    return box;
}

QWidget* MenuWindow::settingsSection() {
    QVBoxLayout* column;
    auto* box = Style::column(column, 8);
    auto* login = new QCheckBox("Open at login");
    login->setChecked(model_->openAtLogin());
    connect(login, &QCheckBox::toggled, [model = model_](bool on) { model->setOpenAtLogin(on); });
    column->addWidget(login);
    if (model_->openAtLoginNeedsApproval() && *PlatformText::loginItemApproval)
        column->addWidget(Style::label(PlatformText::loginItemApproval, "secondary"));
    if (!model_->updatesConfigured()) {
        column->addWidget(Style::label("Updates are not set up in this build", "secondary"));
        return box;
    }
    column->addWidget(Style::label(model_->versionLine(), "secondary"));
    if (auto text = model_->updateText()) {
        if (auto headline = text->headline()) {
            auto* title = Style::label(*headline);
            title->setFont(Style::font(12, QFont::Medium));
            column->addWidget(title);
        }
        for (const auto& note : text->notes()) column->addWidget(Style::label(note, "secondary"));
        if (auto detail = text->detail())
            column->addWidget(Style::label(*detail, text->detailIsWarning() ? "warn" : "secondary"));
        if (model_->update() && model_->update()->state == UpdateState::downloading) {
            auto* progress = new QProgressBar;
            progress->setTextVisible(false);
            progress->setRange(0, model_->update()->progress ? 100 : 0);
            progress->setValue(static_cast<int>(model_->update()->progress.value_or(0) * 100));
            column->addWidget(progress);
        }
        if (text->showsUpdateNow())
            column->addWidget(Style::button(
                "Update now", [model = model_] { model->installUpdate(); }, "accent"));
    }
    auto* automatic = new QCheckBox("Check for updates automatically");
    automatic->setChecked(model_->checkUpdatesAutomatically());
    connect(automatic, &QCheckBox::toggled, [model = model_](bool on) { model->setCheckUpdatesAutomatically(on); });
    column->addWidget(automatic);
    auto text = model_->updateText();
    auto* check =
        Style::button(text ? text->checkTitle() : "Check for updates", [model = model_] { model->checkForUpdates(); });
    check->setEnabled(text && text->canCheck());
    column->addWidget(check, 0, Qt::AlignLeft);
    return box;
}

QWidget* MenuWindow::footer() {
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    bool stopped = model_->transportState().which == TransportState::Case::stopped;
    row->addWidget(stopped ? Style::button("Resume", [model = model_] { model->resume(); })
                           : Style::button("Disconnect all", [model = model_] { model->killSwitch(); }));
    row->addStretch(1);
    row->addWidget(Style::button("Quit", quit_, "link"));
    return box;
}

}  // namespace kx
