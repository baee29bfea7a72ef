#pragma once

namespace kx {

// The probed state of a requirement.
enum class GrantState { granted, denied, notDetermined, unavailable };

}  // namespace kx
