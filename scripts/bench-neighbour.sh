#!/usr/bin/env bash
# Whether fast matches are good neighbours to the other work of a machine.
# Three backgrounds, one after the other in the same run:
#   busy      64 busy loops
#   pingpong  12 bare pipe ping-pongs (a parent and two children passing one
#             byte back and forth: a fast match's pattern reduced to its
#             bones)
#   matches   12 fast matches of two circlers on the demo map, no window,
#             each started again when it ends
# each loop, ping-pong and match loop in a session of its own (setsid), as
# tournament runners start matches; with the kernel's autogroup scheduling on,
# each session is scheduled as a group.  In each background, after a short
# warm-up:
#   probe     a task that sleeps 1 ms at a time for PROBE_SECONDS (default
#             10): the 99th percentile and the longest wait beyond the 1 ms,
#             and its time spent ready to run waiting for a processor (runq)
#   paced     a paced match of PACED_FRAMES (default 500) frames between two
#             players that answer at once: its frame rate and the 99th
#             percentile and the longest gap between frames (the worse of
#             its two players)
#   scripts/bench-neighbour.sh [-n REPEATS] [-z REFEREE] [BACKGROUND...]
# Backgrounds (default busy pingpong matches; "idle" is none at all).  The
# referee of the matches and of the paced match is REFEREE (default
# $BUILD_DIR/zvref); the players and helpers come from $BUILD_DIR.
# Targets, beside the matches against beside the ping-pongs of the same run:
#   probe max <= max(2 x its max beside the ping-pongs, 50 ms)
#   paced rate within 1 % of 50 fps, or at least its rate beside the ping-pongs
#   paced max gap <= max(2 x its max gap beside the ping-pongs, 100 ms)
# Every background process is stopped at the end.  Exits non-zero when a
# target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh

REPEATS=1
REFEREE=""
while getopts "n:z:" opt; do
    case $opt in
        n) REPEATS=$OPTARG ;;
        z) REFEREE=$OPTARG ;;
        *) echo "usage: $0 [-n REPEATS] [-z REFEREE] [BACKGROUND...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
BACKGROUNDS=("$@")
[ ${#BACKGROUNDS[@]} -gt 0 ] || BACKGROUNDS=(busy pingpong matches)
bench_build
REFEREE=${REFEREE:-$BUILD_DIR/zvref}

LOOPS=${LOOPS:-64}
COUNT=${COUNT:-12}
PROBE_SECONDS=${PROBE_SECONDS:-10}
PACED_FRAMES=${PACED_FRAMES:-500}
WARMUP_SECONDS=2
CIRCLER=$BUILD_DIR/players/circler
# Every background stops by itself after this long, should this script be
# killed before it can stop them.
LIFETIME=$((WARMUP_SECONDS + PROBE_SECONDS + 2 * PACED_FRAMES / 50 + 60))

# ---------------------------------------------------------------- the sessions

SESSIONS=()

# in_session <command...>: starts the command in a session of its own.  A
# background job of a script leads no process group, so setsid makes the
# session without forking and $! is its id.  Disowned: their end is ours
# and not worth a message.
in_session() {
    setsid "$@" </dev/null >/dev/null 2>&1 &
    SESSIONS+=($!)
    disown $!
}

# The processes of our sessions, one "pid" a line.
session_processes() {
    [ ${#SESSIONS[@]} -gt 0 ] || return 0
    ps -eo pid=,sid= | awk -v ids=" ${SESSIONS[*]} " 'index(ids, " " $2 " ") { print $1 }'
}

# Ends every process of our sessions and waits until they are gone.
stop_sessions() {
    local pids
    for _ in $(seq 50); do
        pids=$(session_processes)
        [ -n "$pids" ] || break
        kill -KILL $pids 2>/dev/null || true
        sleep 0.1
    done
    [ -z "$(session_processes)" ] || echo "some background processes would not stop" >&2
    SESSIONS=()
}
trap 'stop_sessions; rm -rf "$WORK"' EXIT

start_background() {
    local i
    case $1 in
        idle) ;;
        busy)
            for i in $(seq "$LOOPS"); do
                in_session bash -c 'while [ $SECONDS -lt $0 ]; do :; done' "$LIFETIME"
            done
            ;;
        pingpong)
            for i in $(seq "$COUNT"); do in_session "$BUILD_DIR/tools/zvpingpong" "$LIFETIME"; done
            ;;
        matches)
            : >"$WORK/matches.done"
            for i in $(seq "$COUNT"); do
                in_session bash -c 'while [ $SECONDS -lt $0 ]; do
                        env -u DISPLAY "$1" -f -l NONE -m "$2" -r "$3.rep" "$4" "$4" >/dev/null 2>&1
                        echo >>"$5"
                    done' "$LIFETIME" "$REFEREE" "$MAP" "$WORK/bg$i" "$CIRCLER" "$WORK/matches.done"
            done
            ;;
        *) echo "unknown background: $1" >&2; exit 2 ;;
    esac
}

# ---------------------------------------------------------------- the measurements

# probe: sets PROBE_P99, PROBE_MAX and PROBE_RUNQ (ms).
probe() {
    read -r PROBE_P99 PROBE_MAX PROBE_RUNQ < <("$BUILD_DIR/tools/zvsleepprobe" "$PROBE_SECONDS" |
        awk '{ for (i = 1; i < NF; ++i) v[$i] = $(i + 1); print v["p99"], v["max"], v["runq_ms"] }')
}

# paced: sets RATE (fps), GAP_P99 and GAP_MAX (ms), the worse of the two
# players' reports.
paced() {
    local player="$BUILD_DIR/testplayers/probe_pacing $PACED_FRAMES"
    env -u DISPLAY "$REFEREE" -l NONE -m "$MAP" -r "$WORK/paced.rep" "$player" "$player" \
        2>"$WORK/paced.err" >/dev/null || true
    read -r RATE GAP_P99 GAP_MAX < <(awk '/^frames/ {
            for (i = 1; i < NF; ++i) {
                if ($i == "rate") r = $(i + 1)
                if ($i == "p99") p = $(i + 1)
                if ($i == "max") m = $(i + 1)
            }
            if (n++ == 0 || r < rate) rate = r
            if (p > p99) p99 = p
            if (m > max) max = m
        }
        END { if (n == 0) print "0 0 0"; else printf "%.2f %.1f %.1f\n", rate, p99, max }' "$WORK/paced.err")
}

# measure <repeat> <background>: one row of the table, also recorded.
measure() {
    start_background "$2"
    sleep "$WARMUP_SECONDS"
    probe
    paced
    local done=-
    [ "$2" != matches ] || done=$(wc -l <"$WORK/matches.done")
    stop_sessions
    printf '%-3s %-9s %9s %9s %9s %9s %9s %9s %8s\n' "$1" "$2" "$PROBE_P99" "$PROBE_MAX" "$PROBE_RUNQ" \
        "$RATE" "$GAP_P99" "$GAP_MAX" "$done"
    echo "$1 $2 $PROBE_MAX $RATE $GAP_MAX" >>"$WORK/results"
}

# judge <repeat>: the targets of one run; prints what was missed.
judge() {
    awk -v rep="$1" '$1 == rep { max[$2] = $3; rate[$2] = $4; gap[$2] = $5 }
        END {
            if (!("pingpong" in max) || !("matches" in max)) exit
            probe = 2 * max["pingpong"]; if (probe < 50) probe = 50
            fps = rate["pingpong"]; if (fps > 49.5) fps = 49.5
            worst = 2 * gap["pingpong"]; if (worst < 100) worst = 100
            if (max["matches"] > probe) printf " probe max %.1f > %.1f ms", max["matches"], probe
            if (rate["matches"] < fps || rate["matches"] > 50.5) printf " rate %.2f outside %.2f..50.5 fps", rate["matches"], fps
            if (gap["matches"] > worst) printf " gap %.1f > %.1f ms", gap["matches"], worst
        }' "$WORK/results"
}

# ---------------------------------------------------------------- the run

echo "referee: $REFEREE; autogroup: $(cat /proc/sys/kernel/sched_autogroup_enabled 2>/dev/null || echo unknown)"
: >"$WORK/results"
printf '%-3s %-9s %9s %9s %9s %9s %9s %9s %8s\n' rep background probe_p99 probe_max probe_runq \
    paced_fps gap_p99 gap_max matches
missed=""
for rep in $(seq "$REPEATS"); do
    for background in "${BACKGROUNDS[@]}"; do measure "$rep" "$background"; done
    verdict=$(judge "$rep")
    [ -z "$verdict" ] || missed="$missed
run $rep:$verdict"
done
echo "probe: ms beyond 1 ms sleeps (runq: ms waiting for a processor in all); gaps in ms;"
echo "matches: background matches finished during the measurement"
if [[ " ${BACKGROUNDS[*]} " != *" pingpong "* || " ${BACKGROUNDS[*]} " != *" matches "* ]]; then
    echo "targets not judged: they need the pingpong and matches backgrounds"
elif [ -z "$missed" ]; then
    echo "targets met"
else
    echo "targets missed:$missed"
    exit 1
fi
