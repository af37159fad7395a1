#!/usr/bin/env bash
# Times whole 12000-frame fast matches on the demo map: two idle players, then
# two traders.  For each: wall time, frames per second, the referee's peak
# memory and how many explored-cells images were encoded (from the replay).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh
bench_build

printf '%-8s %9s %9s %10s %7s\n' match wall_s fps peak_MB images
for player in idle trader; do
    play_match "$player" "$player"
    fps=$(awk -v f="$FRAMES" -v w="$WALL" 'BEGIN { printf "%.0f", f / w }')
    peak=$(awk -v k="$PEAK_KB" 'BEGIN { printf "%.1f", k / 1024 }')
    printf '%-8s %9.2f %9s %10s %7s\n' "$player" "$WALL" "$fps" "$peak" "$IMAGES"
    tail -n 1 "$WORK/$player.out"
done
