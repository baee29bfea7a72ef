#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agent/update/UpdateStatus.h"

namespace kx {

// The texts and switches the menu shows for an update status.
class UpdateMenuText {
public:
    explicit UpdateMenuText(UpdateStatus status) : status_(std::move(status)) {}

    std::string versionLine() const;
    std::optional<std::string> headline() const;
    std::vector<std::string> notes() const;
    bool showsBadge() const;
    bool showsUpdateNow() const;
    std::optional<std::string> detail() const;
    bool detailIsWarning() const;
    bool canCheck() const;
    std::string checkTitle() const;

private:
    // The release on offer: none while the publisher has paused updates.
    const UpdateRelease* offer() const;

    UpdateStatus status_;
};

}  // namespace kx
