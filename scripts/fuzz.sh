#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each one.
# Usage: scripts/fuzz.sh [--smoke] [SECONDS]   (default 30 s per target; --smoke: 5 s)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=30
[ "${1:-}" = "--smoke" ] && { seconds=5; shift; }
[ -n "${1:-}" ] && seconds=$1
./scripts/install-deps.sh >/dev/null
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target kx_fuzz_all
shopt -s nullglob
targets=(build/fuzz/fuzz/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets built"; exit 0; }
for target in "${targets[@]}"; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    echo "fuzz: $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' || true
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz: $name found a problem"; exit 1; }
done
