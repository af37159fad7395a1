# Shared by the match benchmarks: builds what they run and plays one timed
# fast match.  Sourced, not run.  BUILD_DIR names the build (default build).
BUILD_DIR=${BUILD_DIR:-build}
MAP=${MAP:-maps/demo.txt}
WORK=$(mktemp -d /tmp/zvbench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT

bench_build() {
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD_DIR" -j4 --target zvref players testplayers zvreplaystat zvmsgcount zvsleepprobe zvpingpong zvhideschedstat FloorBench >/dev/null
}

# play_match <name> <program>: a whole fast match of the program against
# itself; sets WALL (seconds), PEAK_KB, FRAMES, IMAGES and REPLAY.
play_match() {
    local name=$1 program=$BUILD_DIR/players/$2
    REPLAY=$WORK/$name.rep
    local timing=$WORK/$name.time
    env -u DISPLAY /usr/bin/time -f "%e %M" -o "$timing" \
        "$BUILD_DIR/zvref" -f -m "$MAP" -r "$REPLAY" "$program" "$program" >"$WORK/$name.out" 2>&1
    read -r WALL PEAK_KB <"$timing"
    read -r _ FRAMES _ IMAGES _ _ < <("$BUILD_DIR/tools/zvreplaystat" "$REPLAY" "$WORK/$name.png")
}
