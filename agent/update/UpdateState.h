#pragma once

#include <array>
#include <string_view>

namespace kx {

// The update service's published state; the wire carries the raw value.
enum class UpdateState { idle, checking, available, downloading, verifying, installing, failed, upToDate, paused };

inline constexpr std::array<UpdateState, 9> allUpdateStates{
    UpdateState::idle,        UpdateState::checking,  UpdateState::available,
    UpdateState::downloading, UpdateState::verifying, UpdateState::installing,
    UpdateState::failed,      UpdateState::upToDate,  UpdateState::paused};

std::string_view rawValue(UpdateState state);

// Checking, downloading, verifying or installing: work is running and a new check must wait.
bool isBusy(UpdateState state);

}  // namespace kx
