#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace kx {

class AgentModel;
class PermissionCoordinator;
class StatusOrb;

// The window that drops from the tray icon: status, pairing code, paired phones, settings and
// footer. It reads the model and calls its actions; it holds nothing but what is on screen.
class MenuWindow : public QWidget {
public:
    static constexpr int width = 340;

    MenuWindow(std::shared_ptr<AgentModel> model, std::shared_ptr<PermissionCoordinator> permissions,
               std::function<void()> quit);

    // Shows the window below the icon's rectangle, or near the screen's top-right corner when the
    // tray reports none; hides it when it is showing.
    void toggle(const QRect& iconGeometry);
    void present(const QRect& iconGeometry);
    // Re-reads the model while the window shows; called on every change.
    void render();

protected:
    void paintEvent(QPaintEvent*) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    std::optional<std::pair<QString, int>> focusedControl() const;
    void refocus(const std::pair<QString, int>& control);
    QWidget* header();
    QWidget* pairingSection();
    QWidget* devicesSection();
    QWidget* settingsSection();
    QWidget* footer();
    void place(const QRect& iconGeometry);

    std::shared_ptr<AgentModel> model_;
    std::shared_ptr<PermissionCoordinator> permissions_;
    std::function<void()> quit_;
    QPointer<QWidget> content_;
    QTimer refresh_;               // last-seen lines age while the window is open
    QElapsedTimer hiddenAt_;       // the click on the icon that hid the window must not reopen it
    bool mouseHeld_ = false;       // a mouse button is down on the window
    bool spaceHeld_ = false;       // the space bar is down on one of its buttons
    bool rebuildWaiting_ = false;  // a change came meanwhile
};

}  // namespace kx
