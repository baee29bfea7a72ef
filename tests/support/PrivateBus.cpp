#include "tests/support/PrivateBus.h"

#include <unistd.h>

#include <system_error>

namespace kx::testing {

namespace {
constexpr int kReadyDescriptor = 3;
}

PrivateBus::PrivateBus() {
    try {
        // The daemon prints its address on the notice pipe once it accepts connections; its
        // complaints about descriptor limits are noise in the test output.
        daemon_ = std::make_unique<Subprocess>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address(),
                                     "--print-address=" + std::to_string(kReadyDescriptor)},
            Subprocess::Options{.quiet = true, .notice = kReadyDescriptor});
    } catch (const std::system_error&) {
        return;
    }
    char first = 0;
    if (::read(daemon_->notice(), &first, 1) != 1) daemon_.reset();
}

PrivateBus::~PrivateBus() = default;

}  // namespace kx::testing
