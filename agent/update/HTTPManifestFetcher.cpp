#include "agent/update/HTTPManifestFetcher.h"

#include <stdexcept>

#include "agent/update/UpdateFailure.h"

namespace kx {

namespace {
constexpr long kHTTPOK = 200;
}

std::string HTTPManifestFetcher::fetch(std::stop_token stop) {
    CurlRequest request(url_, settings_, std::move(stop));
    request.setTotalTimeout(timeout);
    std::string body;
    auto outcome = request.perform([&body](std::string_view chunk) {
        if (body.size() + chunk.size() > maxManifestBytes) return false;
        body.append(chunk);
        return true;
    });
    if (outcome.refusedBySink) throw UpdateFailure(unexpectedResponseReason);
    // A response arrived but with another status: the body was cut off on purpose.
    if (outcome.status != 0 && outcome.status != kHTTPOK) throw UpdateFailure(unexpectedResponseReason);
    if (!outcome.completed) throw std::runtime_error(outcome.error);
    return body;
}

}  // namespace kx
