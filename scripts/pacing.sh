#!/usr/bin/env bash
# One paced (not fast) run: both players answer at once and time the arrival
# of their frame messages; each reports the achieved frame rate and the
# spread of the gaps between frames.  The players leave after FRAMES frames,
# which ends the match (their departure is reported as a runtime error).
#   scripts/pacing.sh [FRAMES] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
FRAMES=${1:-1000}
BUILD=${2:-build}
"$BUILD/zvref" -l NONE -m maps/demo.txt \
    "$BUILD/testplayers/probe_pacing $FRAMES" "$BUILD/testplayers/probe_pacing $FRAMES" 2>&1 >/dev/null |
    grep '^frames' || true
