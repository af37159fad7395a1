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
# there is none, on a free display number that it reports once it accepts
# clients.  -noreset: the server must not restart whenever its last client
# leaves (a client connecting during the restart is refused).
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
    XVFB_NUMBER=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$XVFB_NUMBER" >/dev/null 2>&1 &
    XVFB_PID=$!
    trap 'kill $XVFB_PID 2>/dev/null || true; rm -f "$XVFB_NUMBER"' EXIT
    for _ in $(seq 100); do
        [ -s "$XVFB_NUMBER" ] && break
        sleep 0.1
    done
    if [ -s "$XVFB_NUMBER" ]; then
        export DISPLAY=":$(head -n1 "$XVFB_NUMBER")"
    else
        echo "Xvfb did not start; the window tests use their own server or are skipped" >&2
    fi
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
