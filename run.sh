#!/usr/bin/env bash
# Installs what is missing, builds, and runs the suite's main job.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps
cmake --preset default >/dev/null
cmake --build --preset default
exec ./scripts/demo "$@"
