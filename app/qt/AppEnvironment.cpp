#include "app/qt/AppEnvironment.h"

#include <QApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include "agent/permissions/PermissionCoordinator.h"
#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/service/AgentService.h"
#include "agent/support/DataDirectory.h"
#include "agent/support/Log.h"
#include "agent/update/UpdatePreferences.h"
#include "app/model/AgentModel.h"
#include "app/model/DesktopControl.h"
#include "app/qt/ConfirmRunWindow.h"
#include "app/qt/Icons.h"
#include "app/qt/MenuWindow.h"
#include "app/qt/OnboardingWindow.h"
#include "app/qt/QtMainQueue.h"
#include "app/qt/ShutdownPanel.h"
#include "daemon/ControlMessages.h"
#include "platform/linux/desktop/AutostartLoginItem.h"
#include "platform/linux/service/LinuxAgentOptions.h"
#include "platform/linux/update/LinuxUpdateParts.h"

namespace kx {

namespace {
constexpr const char* loginItemDefaultedKey = "kx.openAtLogin.defaulted";

std::shared_ptr<PermissionCoordinator> makeCoordinator(const std::shared_ptr<MainQueue>& main,
                                                       const std::shared_ptr<EventPoster>& poster,
                                                       const AppSettings& settings) {
    SystemPermissionProbe::Options probe;
    // Accessibility on this platform: an X display with XTEST, the same one input goes to.
    probe.inputCanBeInjected = [poster] { return poster && poster->mayInjectInput(); };
    PermissionCoordinator::Parts parts{.probe = std::make_shared<SystemPermissionProbe>(probe),
                                       .evaluator = {Requirement::onboarding()},
                                       .main = main};
    parts.openSettings = [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); };
    parts.relaunch = [command = settings.command] {
        QStringList arguments;
        for (std::size_t i = 1; i < command.size(); ++i) arguments << QString::fromStdString(command[i]);
        // Whatever the start did, this copy ends: a fresh one is what the grant needs.
        QProcess::startDetached(QString::fromStdString(command.at(0)), arguments);
        QApplication::quit();
    };
    return PermissionCoordinator::make(std::move(parts));
}

std::optional<SettingsFlag> loginItemDefaulted() {
    auto folder = defaultConfigDirectory();
    if (!folder) return std::nullopt;
    return SettingsFlag(*folder / UpdatePreferences::settingsFileName, loginItemDefaultedKey);
}
}  // namespace

AppEnvironment::AppEnvironment(AppSettings settings)
    : settings_(std::move(settings)),
      main_(std::make_shared<QtMainQueue>()),
      serviceOptions_(linuxAgentOptions(settings_.dataFolder, settings_.version, settings_.updateBaseURL)) {
    permissions_ = makeCoordinator(main_, serviceOptions_.eventPoster, settings_);

    AgentModel::Parts parts;
    parts.main = main_;
    parts.makeService = [options = serviceOptions_, dataFolder = settings_.dataFolder](auto onDangerous) {
        AgentServiceOptions copy = options;
        copy.onDangerousCommand = std::move(onDangerous);
        auto service = AgentService::create(std::move(copy));
        // A swap that put this version back says why in the first update status.
        if (auto failure = LinuxUpdateParts::takeSwapFailure(dataFolder))
            service->updates().reportEarlierFailure(*failure);
        return service;
    };
    parts.port = settings_.listen.port;
    parts.advertise = settings_.listen.advertise;
    parts.loginItem = std::make_shared<AutostartLoginItem>(AutostartLoginItem::standardEntry(), settings_.command);
    parts.loginItemDefaulted = loginItemDefaulted();
    parts.updatePreferences = UpdatePreferences::standard();
    parts.version = settings_.version;
    model_ = AgentModel::make(std::move(parts));

    menu_ = std::make_unique<MenuWindow>(model_, permissions_, [] { QApplication::quit(); });
    onboarding_ = std::make_unique<OnboardingWindow>(permissions_);
    shutdownPanel_ = std::make_unique<ShutdownPanel>();
    shutdownController_ = std::make_unique<ShutdownPanelController>(
        *shutdownPanel_, [model = model_] { model->cancelShutdown(); }, [model = model_] { model->shutdownNow(); });
    shutdownPanel_->setController(shutdownController_.get());

    model_->setOnChange([this] { modelChanged(); });
    model_->setOnShutdownChange([this](const auto& snapshot) {
        if (snapshot) menu_->hide();  // the panel takes the keyboard
        shutdownController_->update(snapshot);
    });
    model_->setOnExternalPairing([this] { menu_->present(tray_.geometry()); });
    permissions_->setOnChange([this] { permissionsChanged(); });

    tray_.setToolTip("Kestrix");
    QObject::connect(&tray_, &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason) { menu_->toggle(tray_.geometry()); });
    updateTray();
}

AppEnvironment::~AppEnvironment() {
    control_.reset();
    model_->setOnChange(nullptr);
    model_->setOnShutdownChange(nullptr);
    permissions_->setOnChange(nullptr);
    // Each window's destruction removes it from the map: take the map first.
    auto windows = std::move(confirmations_);
    confirmations_.clear();
    for (auto& [id, window] : windows) delete window;
}

void AppEnvironment::launch(bool showSetup, bool pair) {
    tray_.show();
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - settings_.started);
    const bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    if (trayAvailable)
        log::info("tray icon shown " + std::to_string(elapsed.count()) + " ms after start");
    else
        log::info("no system tray: the window opens at the top-right corner instead");
    if (showSetup) return onboarding_->present();
    if (permissions_->step().isReady()) {
        model_->startIfNeeded();
        agentStarted();
        if (pair) model_->beginExternalPairing(std::nullopt);
    } else {
        onboarding_->present();
    }
    if (!trayAvailable) menu_->present(QRect());
}

void AppEnvironment::agentStarted() {
    if (control_ || !model_->hasService()) return;
    try {
        control_ = std::make_unique<DesktopControl>(model_, main_, settings_.dataFolder, settings_.listen);
    } catch (const ControlError& error) {
        log::error(std::string("control commands are off: ") + error.what());
    }
}

void AppEnvironment::modelChanged() {
    agentStarted();  // the window may have started the agent
    logTransport(model_->transportState());
    updateTray();
    syncConfirmations();
    menu_->render();
}

void AppEnvironment::permissionsChanged() {
    updateTray();
    if (onboarding_->isVisible()) onboarding_->render();
    menu_->render();
}

void AppEnvironment::updateTray() {
    bool ready = permissions_->step().isReady();
    bool badged = model_->hasUpdate();
    if (trayReady_ == ready && trayBadged_ == badged) return;
    trayReady_ = ready;
    trayBadged_ = badged;
    tray_.setIcon(Icons::tray(ready, badged));
    tray_.setToolTip(badged ? "Kestrix, update available" : "Kestrix");
}

void AppEnvironment::syncConfirmations() {
    const auto& pending = model_->pendingConfirmations();
    for (auto entry = confirmations_.begin(); entry != confirmations_.end();) {
        bool asked = std::any_of(pending.begin(), pending.end(), [&](const auto& p) { return p.id == entry->first; });
        if (asked) {
            ++entry;
            continue;
        }
        entry->second->close();  // answered, or gone after its time
        entry = confirmations_.erase(entry);
    }
    for (const auto& question : pending) {
        if (confirmations_.contains(question.id)) continue;
        auto* window = new ConfirmRunWindow(
            question, [model = model_, id = question.id](bool run) { model->answerConfirmation(id, run); });
        QObject::connect(window, &QObject::destroyed, [this, id = question.id] { confirmations_.erase(id); });
        confirmations_[question.id] = window;
        window->show();
        window->raise();
        window->activateWindow();
    }
}

void AppEnvironment::logTransport(const TransportState& state) {
    // A start passes through "stopped" and "starting" on its way; only where it lands is news.
    if (state.which == TransportState::Case::starting || loggedTransport_ == state) return;
    if (!loggedTransport_ && state.which == TransportState::Case::stopped) return;
    loggedTransport_ = state;
    log::info("transport " + state.description());
}

}  // namespace kx
