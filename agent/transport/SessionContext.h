#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <asio/io_context.hpp>

#include "agent/pairing/AgentIdentity.h"
#include "agent/transport/CommandRouter.h"
#include "agent/transport/FramePool.h"
#include "agent/transport/LastSeenRecorder.h"
#include "agent/transport/SessionLimits.h"
#include "agent/transport/WorkerPool.h"
#include "protocol/AgentDescriptor.h"
#include "protocol/Bytes.h"

namespace kx {

class DeviceRegistry;
class PairingService;

// What every session of one transport server shares. Sessions and request jobs hold it by
// shared_ptr, so the queue, the router and the worker pool outlive every job that uses them.
struct SessionContext {
    AgentIdentity identity;
    std::string agentPublicKeyText;  // base64url of the identity's public key, computed once
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<PairingService> pairing;
    std::shared_ptr<const CommandRouter> router;
    AgentDescriptor agentInfo;
    std::shared_ptr<asio::io_context> queue;  // the transport's serial queue (run by one thread)
    std::shared_ptr<WorkerPool> workers;
    std::shared_ptr<LastSeenRecorder> lastSeen;
    std::chrono::milliseconds handshakeTimeout;
    // One read buffer for every session: reads complete one at a time on the queue's thread, so
    // an idle connection holds no buffer of its own.
    Bytes readBuffer;
    SessionLimits limits;
    // Queue only, like the read buffer: the plaintext of the frame being handled, and the buffers
    // of written frames that the next answers are sealed into.
    Bytes plaintext{};
    FramePool frames{};
};

}  // namespace kx
