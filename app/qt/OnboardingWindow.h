#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

namespace kx {

class PermissionCoordinator;

// "Kestrix Setup": walks the user through what the agent needs, following the coordinator.
// Made once and kept; closing only hides it.
class OnboardingWindow : public QWidget {
public:
    explicit OnboardingWindow(std::shared_ptr<PermissionCoordinator> permissions);
    void present();
    void render();

private:
    QWidget* commandRow(const std::string& command);

    std::shared_ptr<PermissionCoordinator> permissions_;
    QPointer<QWidget> content_;
    bool waylandOnly_;
};

}  // namespace kx
