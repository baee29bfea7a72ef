#!/usr/bin/env bash
# Prints the lines of test code, the lines of product code and their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { find "$@" \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null | xargs -0 cat 2>/dev/null | wc -l; }
product_folders=()
for folder in protocol agent platform client daemon tools app; do
  [[ -d $folder ]] && product_folders+=("$folder")
done
tests=$(count tests)
product=$(count "${product_folders[@]}")
echo "tests:   $tests"
echo "product: $product"
awk -v t="$tests" -v p="$product" 'BEGIN { printf "ratio:   %.2f\n", t / p }'
