// A line read from the control socket, as a request (the agent's side) and as a reply (the
// client's side): decoding fails only with ControlError, and what decodes survives a round trip.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "daemon/ControlMessages.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    try {
        auto request = ControlRequest::decode(line);
        if (ControlRequest::decode(request.encode()).words != request.words) std::abort();
    } catch (const ControlError&) {
    }
    try {
        auto reply = ControlReply::decode(line);
        auto again = ControlReply::decode(reply.encode());
        if (again.ok != reply.ok || again.text != reply.text || again.data != reply.data ||
            again.qrCode != reply.qrCode || again.error != reply.error)
            std::abort();
    } catch (const ControlError&) {
    }
    return 0;
}
