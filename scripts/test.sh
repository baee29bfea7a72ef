#!/usr/bin/env bash
# Installs what is needed, builds, starts the test services and runs every test.
# Usage: scripts/test.sh [PRESET] [ctest arguments...]   (PRESET: debug, asan, tsan, release)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=debug
case "${1:-}" in debug|asan|tsan|release) preset=$1; shift ;; esac

./scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"

source scripts/lib/services.sh
kx_services_start
trap kx_services_stop EXIT
ctest --preset "$preset" "$@"
