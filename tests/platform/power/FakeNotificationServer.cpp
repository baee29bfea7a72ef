#include "tests/platform/power/FakeNotificationServer.h"

#include <chrono>
#include <map>

namespace kx::testing {

namespace {
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr auto kPatience = std::chrono::seconds(20);
}  // namespace

FakeNotificationServer::FakeNotificationServer(const std::string& address)
    : bus_(sdbus::createSessionBusConnectionWithAddress(address)) {
    bus_->requestName("org.freedesktop.Notifications");
    object_ = sdbus::createObject(*bus_, "/org/freedesktop/Notifications");
    object_->registerMethod("Notify")
        .onInterface(kInterface)
        .implementedAs([this](const std::string& application, std::uint32_t replaces, const std::string& icon,
                              const std::string& summary, const std::string& body,
                              const std::vector<std::string>& actions,
                              const std::map<std::string, sdbus::Variant>& hints, std::int32_t timeout) {
            Notice notice{application, replaces, icon, summary, body, actions, 0, timeout};
            if (auto urgency = hints.find("urgency"); urgency != hints.end()) {
                notice.urgency = urgency->second.get<std::uint8_t>();
            }
            return notify(std::move(notice));
        });
    object_->registerMethod("CloseNotification").onInterface(kInterface).implementedAs([this](std::uint32_t id) {
        {
            std::lock_guard guard(mutex_);
            closed_.push_back(id);
        }
        changed_.notify_all();
    });
    object_->registerSignal("ActionInvoked").onInterface(kInterface).withParameters<std::uint32_t, std::string>();
    object_->finishRegistration();
    bus_->enterEventLoopAsync();
}

FakeNotificationServer::~FakeNotificationServer() {
    releaseHold();
    bus_->leaveEventLoop();
    object_.reset();
}

std::uint32_t FakeNotificationServer::notify(Notice notice) {
    std::unique_lock lock(mutex_);
    ++stuck_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !holding_; });
    --stuck_;
    // The server keeps the identifier it is asked to replace, as real servers do.
    const std::uint32_t id = notice.replaces != 0 ? notice.replaces : nextID_++;
    notices_.push_back(std::move(notice));
    changed_.notify_all();
    return id;
}

std::vector<FakeNotificationServer::Notice> FakeNotificationServer::notices() const {
    std::lock_guard guard(mutex_);
    return notices_;
}

std::vector<std::uint32_t> FakeNotificationServer::closed() const {
    std::lock_guard guard(mutex_);
    return closed_;
}

bool FakeNotificationServer::waitFor(std::size_t count, std::size_t closes) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return notices_.size() >= count && closed_.size() >= closes; });
}

void FakeNotificationServer::hold() {
    std::lock_guard guard(mutex_);
    holding_ = true;
}

void FakeNotificationServer::press(std::uint32_t id, const std::string& button) {
    object_->emitSignal("ActionInvoked").onInterface(kInterface).withArguments(id, button);
}

bool FakeNotificationServer::waitUntilStuck() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [this] { return stuck_ > 0; });
}

void FakeNotificationServer::releaseHold() {
    {
        std::lock_guard guard(mutex_);
        holding_ = false;
    }
    changed_.notify_all();
}

}  // namespace kx::testing
