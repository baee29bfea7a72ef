#!/usr/bin/env bash
# Installs what is needed, builds the agent and kxctl in the release configuration (not the tests)
# and starts the agent in the foreground: the desktop app (kestrix, with its tray icon) where a
# display is available, the headless kestrixd otherwise or when KX_HEADLESS=1.
# Arguments are passed on (see kestrix --help and kestrixd --help; both take --port,
# --no-advertise, --data-dir, --update-url and --pair).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset release >/dev/null
if [ "${KX_HEADLESS:-}" != 1 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
    cmake --build --preset release --target kestrix kestrixd kxctl
    exec build/release/app/kestrix "$@"
fi
cmake --build --preset release --target kestrixd kxctl
exec build/release/daemon/kestrixd "$@"
