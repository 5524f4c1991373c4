#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps
cmake --preset default
cmake --build --preset default
ctest --preset default -j2
