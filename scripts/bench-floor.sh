#!/usr/bin/env bash
# Compares whole fast matches with their floor, all in one run on this
# machine.  Two idle players (they answer at once, no commands) and two
# circlers (new cells keep being found) each play 12000 frames on the demo
# map.  The floor of a match is the work no referee can avoid:
#   pipe    the round trip of a message of the match's mean frame-message
#           size to two children that answer at once, busy-polled, x frames
#   format  the fastest "%.10g" text of 2 x 1440 floats, x frames
#   png     one level-9 encoding of the match's last explored-cells image,
#           x the images the replay shows were encoded
# The mean message size comes from a second, untimed match in which a
# pass-through program counts what the first player receives.
# Targets: wall <= 1.3 x floor, peak memory < 64 MB.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh
bench_build

# mean_message_size <program>: the mean frame message the player receives.
mean_message_size() {
    local program=$BUILD_DIR/players/$1 report=$WORK/$1.count
    env -u DISPLAY "$BUILD_DIR/zvref" -f -m "$MAP" -l ERR -r "$WORK/count.rep" \
        "$BUILD_DIR/tools/zvmsgcount $report $program" "$program" >/dev/null 2>&1
    awk '{ printf "%d", $2 / $4 }' "$report"
}

seconds_of() { "$BUILD_DIR/bench/FloorBench" "$@" | awk '{ print $2 }'; }

printf '%-8s %8s %8s %8s %8s %8s %6s %8s %7s %7s\n' \
    match wall_s floor_s pipe_s format_s png_s ratio peak_MB msg_B images
status=0
for player in idle circler; do
    play_match "$player" "$player"
    size=$(mean_message_size "$player")
    pipe=$(seconds_of pipe "$size" "$FRAMES")
    format=$(seconds_of format 2880 "$FRAMES")
    png=$(seconds_of png "$WORK/$player.png" "$IMAGES")
    read -r floor ratio ok < <(awk -v w="$WALL" -v a="$pipe" -v b="$format" -v c="$png" -v k="$PEAK_KB" \
        'BEGIN { f = a + b + c; r = w / f; printf "%.3f %.2f %d\n", f, r, (r <= 1.3 && k < 65536) }')
    peak=$(awk -v k="$PEAK_KB" 'BEGIN { printf "%.1f", k / 1024 }')
    printf '%-8s %8.2f %8s %8s %8s %8s %6s %8s %7s %7s\n' \
        "$player" "$WALL" "$floor" "$pipe" "$format" "$png" "$ratio" "$peak" "$size" "$IMAGES"
    [ "$ok" = 1 ] || status=1
done
[ "$status" = 0 ] && echo "targets met" || echo "targets missed (ratio > 1.3 or peak >= 64 MB)"
exit "$status"
