#!/usr/bin/env bash
# Installs what is missing, builds, and runs the suite's main job: the logger tool on a
# simulated logger when there is a display, else the headless demo.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps
cmake --preset default >/dev/null
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  cmake --build --preset default --target QVL2Pro
  exec ./build/bin/QVL2Pro --link sim-season "$@"
fi
cmake --build --preset default
exec ./scripts/demo "$@"
