#!/usr/bin/env bash
# Lists the C++ files whose formatting differs from .clang-format; exits 1 if there are any.
cd "$(dirname "$0")/.." && git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
