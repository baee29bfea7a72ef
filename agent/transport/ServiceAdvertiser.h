#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace kx {

// One DNS-SD service: name, type (e.g. "_kestrix._tcp"), port and TXT keys, in the default domain.
struct ServiceAdvertisement {
    std::string name;
    std::string type;
    std::uint16_t port = 0;
    std::map<std::string, std::string> txt;
};

// Withdraws its advertisement when destroyed.
class PublishedService {
public:
    virtual ~PublishedService() = default;
};

// Publishes DNS-SD services on the local network.
class ServiceAdvertiser {
public:
    virtual ~ServiceAdvertiser() = default;
    // The published service, or null when it cannot be published (for example with no DNS-SD
    // daemon running); the implementation says why in the log, and the caller carries on without it.
    virtual std::unique_ptr<PublishedService> publish(const ServiceAdvertisement& advertisement) = 0;
};

}  // namespace kx
