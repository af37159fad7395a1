#!/usr/bin/env bash
# Sets up the machine, builds the referee and plays the demo match: two
# example traders on the demo map.  With an X display the match is shown in a
# window; without one it is played without it.  Extra arguments go to the
# referee (for example -f for fast mode).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target zvref players
exec build/zvref -m maps/demo.txt -n trader-blue -N trader-red "$@" build/players/trader build/players/trader
