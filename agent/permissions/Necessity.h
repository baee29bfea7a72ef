#pragma once

namespace kx {

// How much a requirement matters to onboarding.
enum class Necessity {
    blocking,  // onboarding cannot finish without it
    advisory,  // shown as a hint, never blocks
    deferred,  // not asked for during onboarding
};

}  // namespace kx
