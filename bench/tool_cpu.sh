#!/usr/bin/env bash
# CPU use of the logger tool while connected to the simulated logger (polled and refreshed five
# times a second): QVL2Pro on the offscreen platform with its own settings and live channel,
# measured from /proc over SECONDS (default 30) after a start-up of 3 s.
# Usage: bench/tool_cpu.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=${1:-"$(dirname "$0")/../build"}
seconds=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work" QVL_LIVE_BLOCK="/qvl-bench-$$" QT_QPA_PLATFORM=offscreen
"$build/bin/QVL2Pro" --link sim >"$work/out.txt" 2>&1 &
pid=$!
sleep 3
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks)
sleep "$seconds"
t1=$(ticks)
kill "$pid"
wait "$pid" 2>/dev/null || true
awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "QVL2Pro CPU over %d s: %.2f s = %.1f %% of one core\n", s, d / hz, 100 * d / hz / s }'
