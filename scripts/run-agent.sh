#!/usr/bin/env bash
# Installs what is needed, builds the agent and kxctl in the release configuration (not the tests)
# and starts the agent in the foreground.
# Arguments are passed on to kestrixd (see kestrixd --help).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target kestrixd kxctl
exec build/release/daemon/kestrixd "$@"
