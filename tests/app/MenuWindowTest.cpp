#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <stdexcept>

#include "agent/permissions/PermissionCoordinator.h"
#include "app/model/AgentModel.h"
#include "app/qt/MenuWindow.h"
#include "app/qt/QtMainQueue.h"

using namespace kx;

namespace {

class GrantingProbe : public PermissionProbing {
public:
    GrantState state(const Requirement&) const override { return GrantState::granted; }
    GrantState prompt(const Requirement& requirement) const override { return state(requirement); }
};

// On the box's indicator at its left end, or just outside the box.
void sendMouse(QWidget* widget, QEvent::Type type, bool inside = true) {
    const QPointF at = inside ? QPointF(6, widget->height() / 2.0) : QPointF(-5, -5);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

// The window is rebuilt on every change, every second while it shows: a click whose press and
// release straddle a change still counts, the change shows once the button is let go, and the
// keyboard's focus stays where it was.
TEST(MenuWindow, ClicksAndFocusSurviveTheRebuildsOfAChange) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "kx_app_qt_tests";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    auto main = std::make_shared<QtMainQueue>();
    AgentModel::Parts parts;
    parts.main = main;
    parts.makeService = [](auto) -> std::shared_ptr<AgentService> { throw std::runtime_error("no agent here"); };
    auto model = AgentModel::make(std::move(parts));
    auto permissions = PermissionCoordinator::make(
        {.probe = std::make_shared<GrantingProbe>(), .evaluator = {Requirement::onboarding()}, .main = main});
    MenuWindow menu(model, permissions, [] {});
    model->setOnChange([&] { menu.render(); });
    menu.present(QRect());
    QCoreApplication::processEvents();  // lays the window out

    QPointer<QCheckBox> openAtLogin = menu.findChild<QCheckBox*>();
    ASSERT_TRUE(openAtLogin);
    const bool before = model->openAtLogin();
    sendMouse(openAtLogin, QEvent::MouseButtonPress);
    model->refreshDevices();  // what the window's one-second refresh does
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(openAtLogin) << "the pressed box was replaced before its release";
    sendMouse(openAtLogin, QEvent::MouseButtonRelease);
    EXPECT_EQ(model->openAtLogin(), !before);

    // Let go outside the box: no click, and the change that waited shows now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    openAtLogin = menu.findChild<QCheckBox*>();
    ASSERT_TRUE(openAtLogin);
    sendMouse(openAtLogin, QEvent::MouseButtonPress);
    model->refreshDevices();
    sendMouse(openAtLogin, QEvent::MouseButtonRelease, false);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(openAtLogin) << "the change that waited for the release was never shown";
    EXPECT_EQ(model->openAtLogin(), !before);

    // The keyboard's focus stays on the same control across a change.
    openAtLogin = menu.findChild<QCheckBox*>();
    ASSERT_TRUE(openAtLogin);
    menu.activateWindow();
    openAtLogin->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), openAtLogin.data());
    model->refreshDevices();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(openAtLogin) << "no rebuild";
    EXPECT_EQ(QApplication::focusWidget(), menu.findChild<QCheckBox*>());

    // The space bar held on the focused box across a change still clicks it.
    openAtLogin = menu.findChild<QCheckBox*>();
    const bool wasOn = model->openAtLogin();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QApplication::sendEvent(openAtLogin, &press);
    model->refreshDevices();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(openAtLogin) << "the box went down on Space and was replaced before Space came up";
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
    QApplication::sendEvent(openAtLogin, &release);
    EXPECT_EQ(model->openAtLogin(), !wasOn);
    model->setOnChange(nullptr);
}
