#pragma once

#include <stdexcept>
#include <string>

#include "protocol/WireError.h"

namespace kx {

// Why another application did not do what it was asked (the file manager, the browser).
class ScriptFailure : public std::runtime_error {
public:
    enum class Reason {
        notPermitted,   // the user has not allowed the agent to control that application
        appNotRunning,  // the application is not running
        failed,         // anything else; the detail stays on this computer
        timedOut,       // it did not answer in time
    };

    ScriptFailure(Reason reason, std::string appID, const std::string& detail)
        : std::runtime_error(detail), reason_(reason), appID_(std::move(appID)) {}

    Reason reason() const { return reason_; }
    // What the phone is told; the application's id travels where the user must act on it.
    WireError wireError() const;

private:
    Reason reason_;
    std::string appID_;
};

}  // namespace kx
