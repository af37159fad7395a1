#!/usr/bin/env bash
# Many fast matches on one machine, as an organiser plays them.  First one
# match alone, then K = nproc of the same match side by side; two circlers
# (they answer at once and drive every robot) on the demo map.
#   scripts/bench-parallel.sh [-s] [K]
# -s plays every match as on a system without scheduler statistics (the
# referee then tells a busy machine from its threads' clocks): a preloaded
# library makes the files that hold them unreadable.
# Prints the alone match (wall and referee CPU seconds, user + sys), then:
#   makespan    wall time from the start of the first to the end of the last
#   bound       K x (CPU seconds alone) / cores: the makespan if the referees'
#               work were spread over every core without waste
#   ratio       makespan / bound
#   cpu_ratio   mean referee CPU seconds per match side by side / alone
#   skipped     frames skipped by all players of the K matches
#   per_min     matches per minute
# Targets: ratio <= 1.25, cpu_ratio <= 1.2, no skipped frame, every match
# "Successful".
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh

PRELOAD=()
if [ "${1:-}" = -s ]; then
    PRELOAD=("LD_PRELOAD=$PWD/$BUILD_DIR/tools/libzvhideschedstat.so")
    shift
fi
bench_build

CORES=$(nproc)
K=${1:-$CORES}
PLAYER=$BUILD_DIR/players/circler

# start_match <name>: a fast match in the background; its time, result and
# log lines go to $WORK/<name>.*
start_match() {
    env -u DISPLAY "${PRELOAD[@]}" /usr/bin/time -f "%e %U %S" -o "$WORK/$1.time" \
        "$BUILD_DIR/zvref" -f -m "$MAP" -r "$WORK/$1.rep" "$PLAYER" "$PLAYER" \
        >"$WORK/$1.out" 2>"$WORK/$1.err" &
}

cpu_of() { awk '{ printf "%.2f", $2 + $3 }' "$WORK/$1.time"; }
skipped_of() { awk -F'skipped frames:' 'NF == 2 { s += $2 } END { print s + 0 }' "$WORK/$1.err"; }
successful() { grep -q '"status":"Successful"' "$WORK/$1.out"; }

start_match alone
wait
ALONE_WALL=$(awk '{ print $1 }' "$WORK/alone.time")
ALONE_CPU=$(cpu_of alone)
printf 'alone: wall %.2f s, cpu %.2f s, skipped %d\n' "$ALONE_WALL" "$ALONE_CPU" "$(skipped_of alone)"

begin=$(date +%s.%N)
for i in $(seq "$K"); do start_match "side$i"; done
wait
end=$(date +%s.%N)

cpu_sum=0
skipped=0
failed=0
for i in $(seq "$K"); do
    cpu_sum=$(awk -v a="$cpu_sum" -v b="$(cpu_of "side$i")" 'BEGIN { print a + b }')
    skipped=$((skipped + $(skipped_of "side$i")))
    successful "side$i" || failed=$((failed + 1))
done
successful alone || failed=$((failed + 1))

read -r span bound ratio cpu_ratio per_min < <(awk -v b="$begin" -v e="$end" -v k="$K" -v c="$CORES" \
    -v alone="$ALONE_CPU" -v sum="$cpu_sum" 'BEGIN {
        span = e - b; bound = k * alone / c
        printf "%.2f %.2f %.2f %.2f %.1f\n", span, bound, span / bound, (sum / k) / alone, k * 60 / span
    }')
printf '%-3s %10s %8s %6s %9s %8s %7s %8s\n' K makespan_s bound_s ratio cpu_ratio skipped failed per_min
printf '%-3s %10s %8s %6s %9s %8s %7s %8s\n' "$K" "$span" "$bound" "$ratio" "$cpu_ratio" "$skipped" "$failed" "$per_min"
if awk -v r="$ratio" -v c="$cpu_ratio" 'BEGIN { exit !(r <= 1.25 && c <= 1.2) }' && [ "$skipped" = 0 ] && [ "$failed" = 0 ]; then
    echo "targets met"
else
    echo "targets missed (ratio > 1.25, cpu_ratio > 1.2, a skipped frame or a match not Successful)"
    exit 1
fi
