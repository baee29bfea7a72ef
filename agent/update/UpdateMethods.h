#pragma once

#include <memory>

#include "agent/transport/CommandRouter.h"
#include "agent/update/UpdateService.h"

namespace kx {

// The wire methods "agent.update.status" and "agent.update.install", both under the
// "agent.update" capability and both for authenticated sessions only.
class UpdateMethods {
public:
    explicit UpdateMethods(std::shared_ptr<UpdateService> updates) : updates_(std::move(updates)) {}

    void registerOn(CommandRouter& router) const;

private:
    std::shared_ptr<UpdateService> updates_;
};

}  // namespace kx
