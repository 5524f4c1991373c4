#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; exits non-zero on any failure.
#   ./test.sh [--preset NAME]   (default: the `default` preset; CI uses `ci`, warnings as errors)
set -euo pipefail
cd "$(dirname "$0")"
preset=default
while [ $# -gt 0 ]; do
  case "$1" in
    --preset) preset="$2"; shift 2 ;;
    *) echo "usage: ./test.sh [--preset NAME]" >&2; exit 2 ;;
  esac
done
./scripts/install-deps
./scripts/check-format
cmake --preset "$preset"
cmake --build --preset "$preset"
./scripts/check-package "$(if [ "$preset" = default ]; then echo build; else echo "build-$preset"; fi)"
./scripts/fuzz-smoke
ctest --preset "$preset" -j2
