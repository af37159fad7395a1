#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz and runs
# each, side by side, for a bounded time from its seeds in fuzz/corpus/<target>.
# Fails on a crash, a sanitizer report, a leak, an input that runs longer
# than 10 s, memory beyond 2 GB, or a fuzzer that does not come back in time.
# New inputs go to build-fuzz/fuzz-work, crash inputs to build-fuzz/fuzz-artifacts;
# the repository's seeds are only read.
#
# Usage: scripts/fuzz.sh [SECONDS]   (seconds per target, default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
BUILD=build-fuzz
TARGETS=(fuzz_answers fuzz_map fuzz_cmdline)
# Longest input: past the 8192 characters a player may write without an "OK";
# a map of 100 lines of 100 characters and CR LF with room to spare.
declare -A MAX_LEN=([fuzz_answers]=16384 [fuzz_map]=12288 [fuzz_cmdline]=4096)
WORK="$BUILD/fuzz-work"
ARTIFACTS="$PWD/$BUILD/fuzz-artifacts"

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZV_FUZZ=ON -DZV_SANITIZE=address -DZV_BENCHMARKS=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target "${TARGETS[@]}"

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

rm -rf "$WORK" "$ARTIFACTS"
mkdir -p "$ARTIFACTS"
declare -A PIDS
for target in "${TARGETS[@]}"; do
    mkdir -p "$WORK/$target"
    dict=()
    if [ -f "fuzz/${target#fuzz_}.dict" ]; then dict=(-dict="fuzz/${target#fuzz_}.dict"); fi
    # The system's own log lines (standard error) are dropped while fuzzing;
    # libFuzzer and the sanitizers keep reporting.  The outer limit catches a
    # fuzzer that hangs where its own timeout cannot.
    timeout --kill-after=10 $((SECONDS_EACH + 120)) "$BUILD/fuzz/$target" \
        -max_total_time="$SECONDS_EACH" -max_len="${MAX_LEN[$target]}" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=2 \
        -print_final_stats=1 -artifact_prefix="$ARTIFACTS/$target-" "${dict[@]}" \
        "$WORK/$target" "fuzz/corpus/$target" >"$WORK/$target.log" 2>&1 &
    PIDS[$target]=$!
done

failed=0
for target in "${TARGETS[@]}"; do
    rc=0
    wait "${PIDS[$target]}" || rc=$?
    if [ "$rc" -eq 0 ]; then
        echo "$target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$WORK/$target.log" | tail -n1)"
        continue
    fi
    failed=1
    echo "$target FAILED (exit $rc); the end of its log:" >&2
    tail -n 60 "$WORK/$target.log" >&2
done

# Each failing input once more, now with the system's log lines: the last
# ones before the report and the report's start.
for artifact in "$ARTIFACTS"/*; do
    [ -e "$artifact" ] || continue
    target=$(basename "$artifact" | sed -E 's/^(fuzz_[a-z]+)-.*/\1/')
    echo "== $artifact (reproduce: $BUILD/fuzz/$target $artifact)" >&2
    { timeout 60 "$BUILD/fuzz/$target" -timeout=10 "$artifact" 2>&1 || true; } |
        awk '/ERROR|runtime error|ALARM/ && !shown { for (i = NR - 12; i < NR; ++i) if (i > 0) print last[i % 12]; shown = NR }
             { last[NR % 12] = $0 } shown && NR < shown + 25' >&2
done
exit "$failed"
