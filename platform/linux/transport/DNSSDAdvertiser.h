#pragma once

#include "agent/transport/ServiceAdvertiser.h"

namespace kx {

// Publishes DNS-SD services through the dns_sd.h interface (avahi's compatibility library on
// Linux). When the name is taken on the network the service is renamed "name (2)", "name (3)" ...
// When no DNS-SD daemon is reachable it says so in one log line and publishes nothing.
class DNSSDAdvertiser : public ServiceAdvertiser {
public:
    // Quietens the compatibility library's warning about itself before its first use.
    DNSSDAdvertiser();

    std::unique_ptr<PublishedService> publish(const ServiceAdvertisement& advertisement) override;
};

}  // namespace kx
