#!/usr/bin/env bash
# Builds the release preset and prints one table: each of the agent's figures beside the limit
# this machine reached in the same run, their ratio and the goal. Starts an X server (through the
# test services) for the pointer row when none is given in DISPLAY.
# Usage: scripts/bench.sh [-j N]   (build jobs; default: what ninja chooses)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=()
[ "${1:-}" = "-j" ] && jobs=(-j "$2")

cmake --preset release >/dev/null
cmake --build --preset release "${jobs[@]}" --target kx_bench_report

if [ -z "${DISPLAY:-}" ]; then
    source scripts/lib/services.sh
    kx_services_start >/dev/null
    trap kx_services_stop EXIT
fi
echo "uptime: $(uptime)"
build/release/bench/kx_bench_report
