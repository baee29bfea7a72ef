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
    log=build/fuzz/$name.log
    mkdir -p "$corpus" build/fuzz/artifacts
    seeds=()  # checked-in starting inputs, read but never written
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    echo "fuzz: $name for ${seconds}s"
    status=0
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 "$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build/fuzz/artifacts/ "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
    grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' "$log" || true
    [ "$status" -eq 0 ] || { tail -40 "$log"; echo "fuzz: $name found a problem (log: $log)"; exit 1; }
done
