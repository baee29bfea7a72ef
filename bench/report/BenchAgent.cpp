#include "bench/report/BenchAgent.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

#include "platform/linux/input/X11EventPoster.h"
#include "tests/e2e/support/InProcessAgent.h"

namespace kx::bench {

namespace {

constexpr int portDescriptor = 3;
const std::string deviceID = "d_bench";

// In the child: tells its port on the notice descriptor, serves until its input closes.
int serve(const SigningKey& device) {
    e2e::InProcessAgent agent({.configure = [](AgentServiceOptions& options) {
        if (std::getenv("DISPLAY")) options.eventPoster = std::make_shared<X11EventPoster>();
    }});
    agent.service().registry().registerDevice({deviceID, "bench phone", base64URLEncode(device.publicKey),
                                               std::chrono::system_clock::now(), std::nullopt, "bench"});

    std::uint16_t port = agent.port();
    if (::write(portDescriptor, &port, sizeof port) != sizeof port) return 1;
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    agent.service().stop();
    return 0;
}

}  // namespace

BenchAgent::BenchAgent() : device_(SigningKey::generate()) {
    process_ = std::make_unique<kx::testing::Subprocess>(
        [this] { return serve(device_); },
        kx::testing::Subprocess::Options{.pipeInput = true, .notice = portDescriptor});
    if (::read(process_->notice(), &port_, sizeof port_) != sizeof port_)
        throw std::runtime_error("the agent did not start");
}

BenchAgent::~BenchAgent() {
    process_->closeInput();
    process_->waitFor(std::chrono::minutes(1));
}

long BenchAgent::residentKiB() const {
    std::ifstream status("/proc/" + std::to_string(pid()) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

double BenchAgent::cpuSeconds() const {
    // Fields 14 and 15 of /proc/PID/stat, after the command name in parentheses.
    std::ifstream stat("/proc/" + std::to_string(pid()) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index)
        if (index >= 14) ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::unique_ptr<e2e::RawPeer> BenchAgent::connect() const {
    auto peer = std::make_unique<e2e::RawPeer>(port_);
    if (!peer->handshake(deviceID, device_)) throw std::runtime_error("handshake refused");
    return peer;
}

}  // namespace kx::bench
