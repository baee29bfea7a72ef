#include "client/PendingCall.h"

#include "client/ClientError.h"

namespace kx {

JSONObject CallOutcome::unwrap() const {
    switch (kind) {
        case Kind::result: return result;
        case Kind::errorResponse: throw ErrorResponse(error);
        case Kind::connectionClosed: throw ConnectionClosed(reason);
        case Kind::protocolViolation: throw ProtocolViolation(reason);
    }
    throw ProtocolViolation("unknown call outcome");
}

}  // namespace kx
