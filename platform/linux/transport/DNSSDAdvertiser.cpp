#include "platform/linux/transport/DNSSDAdvertiser.h"

#include <arpa/inet.h>
#include <dns_sd.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "agent/support/Log.h"

namespace kx {

namespace {
// Renaming stops here; by then something else is wrong.
constexpr int maxRenames = 20;
constexpr int anyInterface = 0;

// One registered service: a thread reads the daemon's answers, reports the outcome once and
// renames the service when its name is taken.
class DNSSDPublication : public PublishedService {
public:
    explicit DNSSDPublication(ServiceAdvertisement advertisement) : advertisement_(std::move(advertisement)) {}

    ~DNSSDPublication() override {
        std::uint64_t one = 1;
        if (thread_.joinable()) {
            [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
            thread_.join();
        }
        if (ref_) DNSServiceRefDeallocate(ref_);
        if (wake_ >= 0) ::close(wake_);
    }

    // False when the daemon cannot be reached; the reason is logged.
    bool start() {
        wake_ = ::eventfd(0, EFD_CLOEXEC);
        if (wake_ < 0 || !registerAs(advertisement_.name)) return false;
        thread_ = std::thread([this] { serve(); });
        return true;
    }

private:
    bool registerAs(const std::string& name) {
        TXTRecordRef txt;
        TXTRecordCreate(&txt, 0, nullptr);
        for (const auto& [key, value] : advertisement_.txt)
            TXTRecordSetValue(&txt, key.c_str(), static_cast<std::uint8_t>(value.size()), value.data());
        DNSServiceErrorType error =
            DNSServiceRegister(&ref_, 0, anyInterface, name.c_str(), advertisement_.type.c_str(), nullptr, nullptr,
                               htons(advertisement_.port), TXTRecordGetLength(&txt), TXTRecordGetBytesPtr(&txt),
                               &DNSSDPublication::registered, this);
        TXTRecordDeallocate(&txt);
        if (error == kDNSServiceErr_NoError) return true;
        ref_ = nullptr;
        log::error("DNS-SD: cannot advertise " + advertisement_.type + " (no DNS-SD daemon reachable? error " +
                   std::to_string(error) + "); serving without an advertisement");
        return false;
    }

    void serve() {
        while (ref_) {
            pollfd entries[2] = {{DNSServiceRefSockFD(ref_), POLLIN, 0}, {wake_, POLLIN, 0}};
            if (::poll(entries, 2, -1) < 0) continue;
            if (entries[1].revents != 0) return;
            if (entries[0].revents == 0) continue;
            nameTaken_ = false;
            if (DNSServiceProcessResult(ref_) != kDNSServiceErr_NoError) return;
            if (nameTaken_) rename();
        }
    }

    void rename() {
        DNSServiceRefDeallocate(ref_);
        ref_ = nullptr;
        if (++renames_ > maxRenames) {
            log::error("DNS-SD: no free service name found; serving without an advertisement");
            return;
        }
        registerAs(advertisement_.name + " (" + std::to_string(renames_ + 1) + ")");
    }

    static void DNSSD_API registered(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error, const char* name,
                                     const char* type, const char*, void* context) {
        auto* self = static_cast<DNSSDPublication*>(context);
        if (error == kDNSServiceErr_NameConflict) {
            self->nameTaken_ = true;
        } else if (error == kDNSServiceErr_NoError) {
            log::info(std::string("DNS-SD: advertised as \"") + name + "\" (" + type + ")");
        } else {
            log::error("DNS-SD: the advertisement failed (error " + std::to_string(error) + ")");
        }
    }

    ServiceAdvertisement advertisement_;
    DNSServiceRef ref_ = nullptr;
    int wake_ = -1;
    int renames_ = 0;
    bool nameTaken_ = false;  // set by the callback, on the serving thread
    std::thread thread_;
};
}  // namespace

DNSSDAdvertiser::DNSSDAdvertiser() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { ::setenv("AVAHI_COMPAT_NOWARN", "1", 0); });
}

std::unique_ptr<PublishedService> DNSSDAdvertiser::publish(const ServiceAdvertisement& advertisement) {
    auto publication = std::make_unique<DNSSDPublication>(advertisement);
    if (!publication->start()) return nullptr;
    return publication;
}

}  // namespace kx
