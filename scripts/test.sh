#!/usr/bin/env bash
# Builds the referee three times (plain, ASan+UBSan, TSan) and runs the test
# suite: all of it on the plain and the ASan/UBSan build, the tests that
# start threads (label "threads") on the TSan build.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=$(nproc)

build() {  # build <dir> <sanitizer>
    cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_SANITIZE="$2" >/dev/null
    cmake --build "$1" -j "$JOBS"
}

# Tests that need a window find an X server through DISPLAY; start one if
# there is none.
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
    Xvfb :77 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
    export DISPLAY=:77
    sleep 1
fi

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

build build "" 
(cd build && ctest --output-on-failure -j "$JOBS")

build build-asan address
(cd build-asan && ctest --output-on-failure -j "$JOBS")

build build-tsan thread
(cd build-tsan && ctest --output-on-failure -j "$JOBS" -L threads)
