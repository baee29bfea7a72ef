#include "tests/support/FakeLogind.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace kx::testing {

namespace {
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSession = "org.freedesktop.login1.Session";
}  // namespace

FakeLogind::FakeLogind(const std::string& address, bool refuse)
    : refuse_(refuse), bus_(sdbus::createSessionBusConnectionWithAddress(address)) {
    bus_->requestName("org.freedesktop.login1");
    object_ = sdbus::createObject(*bus_, "/org/freedesktop/login1");
    for (const char* method : {"PowerOff", "Reboot", "Suspend"}) {
        object_->registerMethod(method).onInterface(kManager).implementedAs(
            [this, method](bool interactive) { record(method, interactive); });
    }
    object_->registerMethod("Inhibit").onInterface(kManager).implementedAs(
        [this](const std::string& what, const std::string& who, const std::string& why, const std::string& mode) {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0) throw sdbus::Error("org.test.Failed", "pipe");
            std::lock_guard guard(mutex_);
            inhibitArguments_ = {what, who, why, mode};
            if (lockReadEnd_ >= 0) ::close(lockReadEnd_);
            lockReadEnd_ = ends[0];
            return sdbus::UnixFd(ends[1], sdbus::adopt_fd);
        });
    object_->registerMethod("CanSuspend").onInterface(kManager).implementedAs([] { return std::string("yes"); });
    object_->registerMethod("GetSessionByPID").onInterface(kManager).implementedAs([](std::uint32_t) {
        return sdbus::ObjectPath(sessionPath);
    });
    object_->finishRegistration();
    session_ = sdbus::createObject(*bus_, sessionPath);
    session_->registerMethod("Lock").onInterface(kSession).implementedAs([this] { record("Lock", false); });
    session_->registerMethod("SetBrightness")
        .onInterface(kSession)
        .implementedAs([this](const std::string& subsystem, const std::string& name, std::uint32_t value) {
            record("SetBrightness", false, subsystem + " " + name + " " + std::to_string(value));
        });
    session_->finishRegistration();
    bus_->enterEventLoopAsync();
}

FakeLogind::~FakeLogind() {
    bus_->leaveEventLoop();
    object_.reset();
    session_.reset();
    if (lockReadEnd_ >= 0) ::close(lockReadEnd_);
}

void FakeLogind::record(std::string method, bool interactive, std::string arguments) {
    calls_.record({std::move(method), interactive, std::move(arguments)});
    if (refuse_) throw sdbus::Error("org.freedesktop.DBus.Error.AccessDenied", "Not allowed by polkit");
}

std::vector<std::string> FakeLogind::inhibitArguments() const {
    std::lock_guard guard(mutex_);
    return inhibitArguments_;
}

bool FakeLogind::lockReleased() const {
    std::lock_guard guard(mutex_);
    pollfd entry{lockReadEnd_, POLLIN, 0};
    return lockReadEnd_ >= 0 && ::poll(&entry, 1, 0) == 1;
}

}  // namespace kx::testing
