#!/usr/bin/env bash
# One fast match on machines of every size, and beside players that think.
# Two circlers (they answer at once and drive every robot) on the demo map,
# no window.
#   scripts/bench-cores.sh [-n REPEATS] [-z REFEREE]... [ROW...]
# Rows (default all of them):
#   1 2 4 6 all  the match confined with taskset to that many cores (all: no
#                confinement; played 3 times, the fastest counts)
#   quota        all cores visible, a 2-processor quota (a cgroup of its own:
#                cpu.cfs_quota_us or cpu.max; left out where none can be made)
#   think        two players that burn 2 ms of processor per frame, all cores
#   think4       the same on 4 cores
#   paced        a paced match (no -f) of 1000 frames of players that answer
#                at once, against the same 1000 frames fast on one core
# Rows 1 and all are always played: every bound needs them.  -n repeats the
# whole set; -z names a referee program to measure (default
# $BUILD_DIR/zvref; give it twice to compare two builds, played interleaved).
# The players and helpers come from $BUILD_DIR.
# Per row: wall time, the referee's processor seconds (user + sys of zvref:
# the players are not its reaped children) and a ratio with its target:
#   cores rows   wall / bound, bound = max(W1 / cores, S), where W1 is the
#                processor seconds on one core (the work) and S the fastest
#                wall time on all cores; target <= 1.25
#   think rows   processor seconds / W1; target <= 1.25
#   paced        processor seconds / those of the 1000 frames fast on one
#                core; target <= 1.5
# With several repeats or referees a summary gives each row's median ratio,
# which the targets judge.  Exits non-zero when a target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench-common.sh

REPEATS=1
REFEREES=()
while getopts "n:z:" opt; do
    case $opt in
        n) REPEATS=$OPTARG ;;
        z) REFEREES+=("$OPTARG") ;;
        *) echo "usage: $0 [-n REPEATS] [-z REFEREE]... [ROW...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
ROWS=("$@")
[ ${#ROWS[@]} -gt 0 ] || ROWS=(1 2 4 6 all quota think think4 paced)
bench_build
[ ${#REFEREES[@]} -gt 0 ] || REFEREES=("$BUILD_DIR/zvref")

CORES=$(nproc)
CIRCLER=$BUILD_DIR/players/circler
THINKER=$BUILD_DIR/testplayers/think_circler
THINK_US=2000
PACED_FRAMES=1000
QUOTA_CPUS=2
RESULTS=$WORK/results

# ---------------------------------------------------------------- the quota cgroup

QUOTA_PROCS=""
QUOTA_DIR=""

# Makes a cgroup limited to QUOTA_CPUS processors; sets QUOTA_PROCS to the
# file that moves a process into it.  False where the machine allows none.
make_quota_cgroup() {
    local dir
    if [ -f /sys/fs/cgroup/cpu/cpu.cfs_quota_us ]; then
        dir=/sys/fs/cgroup/cpu/zvbench-cores-$$
        mkdir "$dir" 2>/dev/null || return 1
        QUOTA_DIR=$dir
        echo 100000 >"$dir/cpu.cfs_period_us" && echo $((QUOTA_CPUS * 100000)) >"$dir/cpu.cfs_quota_us" || return 1
    elif grep -qw cpu /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then
        grep -qw cpu /sys/fs/cgroup/cgroup.subtree_control || echo +cpu >/sys/fs/cgroup/cgroup.subtree_control || return 1
        dir=/sys/fs/cgroup/zvbench-cores-$$
        mkdir "$dir" 2>/dev/null || return 1
        QUOTA_DIR=$dir
        echo "$((QUOTA_CPUS * 100000)) 100000" >"$dir/cpu.max" || return 1
    else
        return 1
    fi
    QUOTA_PROCS=$dir/cgroup.procs
}

# The cgroup goes once its processes have left it: a match's players may
# take a moment to be reaped, and a match cut short by an interrupt is ended.
remove_quota_cgroup() {
    [ -n "$QUOTA_DIR" ] && [ -d "$QUOTA_DIR" ] || return 0
    for _ in $(seq 50); do
        rmdir "$QUOTA_DIR" 2>/dev/null && return 0
        kill -KILL $(cat "$QUOTA_DIR/cgroup.procs" 2>/dev/null) 2>/dev/null || true
        sleep 0.1
    done
    echo "could not remove $QUOTA_DIR" >&2
}
trap 'remove_quota_cgroup; rm -rf "$WORK"' EXIT

# ---------------------------------------------------------------- one match

# confined <row> <command...>: runs the command as the row confines it.
confined() {
    local row=$1
    shift
    case $row in
        all | think | paced) "$@" ;;
        think4) taskset -c 0-3 "$@" ;;
        quota) sh -c 'echo $$ >"$0" && exec "$@"' "$QUOTA_PROCS" "$@" ;;
        fast1000) taskset -c 0 "$@" ;;
        *) taskset -c "0-$((row - 1))" "$@" ;;
    esac
}

# play <row> <referee> <mode> <player command>: one match; sets WALL, CPU and
# STATUS.  mode: -f for fast, "" for paced.
play() {
    local row=$1 referee=$2 mode=$3 player=$4 timing=$WORK/time
    confined "$row" env -u DISPLAY /usr/bin/time -f "%e %U %S" -o "$timing" \
        "$referee" $mode -l NONE -m "$MAP" -r "$WORK/match.rep" "$player" "$player" >"$WORK/out" 2>/dev/null || true
    read -r WALL CPU < <(awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$timing")
    STATUS=$(sed -n 's/.*"status":"\([^"]*\)".*/\1/p' "$WORK/out")
}

# ---------------------------------------------------------------- the rows

# row_line <referee#> <repeat> <row> <cores> <ref_s> <ratio> <target>: prints
# one table line from WALL and CPU and records the ratio.
row_line() {
    local met ok=1
    [ "$STATUS" = "" ] || [ "$STATUS" = "Successful" ] || ok=0
    met=$(awk -v r="$6" -v t="$7" -v ok=$ok 'BEGIN { print (r <= t && ok) ? "yes" : "no" }')
    [ $ok = 1 ] || met="$met ($STATUS)"
    printf '%-4s %-3s %-8s %5s %8s %8s %8s %6s %6s  %s\n' "$1" "$2" "$3" "$4" "$WALL" "$CPU" "$5" "$6" "$7" "$met"
    echo "$1 $3 $6 $7 $ok" >>"$RESULTS"
}

ratio_of() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
bound_of() { awk -v w="$W1" -v c="$1" -v s="$S" 'BEGIN { b = w / c; if (s > b) b = s; printf "%.2f", b }'; }

# cores_row <referee#> <repeat> <row> <cores>: a match confined to the cores.
cores_row() {
    play "$3" "${REFEREES[$1]}" -f "$CIRCLER"
    local bound
    bound=$(bound_of "$4")
    row_line "$1" "$2" "$3" "$4" "$bound" "$(ratio_of "$WALL" "$bound")" 1.25
}

# reference_rows <referee#> <repeat>: W1 from one core, S the fastest of 3
# matches on all cores.
reference_rows() {
    play 1 "${REFEREES[$1]}" -f "$CIRCLER"
    W1=$CPU
    local wall1=$WALL status1=$STATUS best_cpu best_status
    S=""
    for _ in 1 2 3; do
        play all "${REFEREES[$1]}" -f "$CIRCLER"
        if [ -z "$S" ] || awk -v a="$WALL" -v b="$S" 'BEGIN { exit !(a < b) }'; then
            S=$WALL best_cpu=$CPU best_status=$STATUS
        fi
    done
    WALL=$wall1 CPU=$W1 STATUS=$status1
    row_line "$1" "$2" 1 1 "$(bound_of 1)" "$(ratio_of "$WALL" "$(bound_of 1)")" 1.25
    WALL=$S CPU=$best_cpu STATUS=$best_status
    row_line "$1" "$2" all "$CORES" "$(bound_of "$CORES")" "$(ratio_of "$WALL" "$(bound_of "$CORES")")" 1.25
}

# think_row <referee#> <repeat> <row> <cores>: players that think, fast.
think_row() {
    play "$3" "${REFEREES[$1]}" -f "$THINKER $THINK_US"
    row_line "$1" "$2" "$3" "$4" "$W1" "$(ratio_of "$CPU" "$W1")" 1.25
}

# paced_row <referee#> <repeat>: 1000 paced frames against the same frames
# fast on one core.
paced_row() {
    play fast1000 "${REFEREES[$1]}" -f "$THINKER 0 $PACED_FRAMES"
    local fast_cpu=$CPU
    play paced "${REFEREES[$1]}" "" "$THINKER 0 $PACED_FRAMES"
    STATUS=""  # the players' leaving ends the match
    row_line "$1" "$2" paced "$CORES" "$fast_cpu" "$(ratio_of "$CPU" "$fast_cpu")" 1.5
}

# play_row <referee#> <repeat> <row>
play_row() {
    case $3 in
        1 | all) ;;
        quota)
            if [ -n "$QUOTA_PROCS" ]; then
                play quota "${REFEREES[$1]}" -f "$CIRCLER"
                local bound
                bound=$(bound_of "$QUOTA_CPUS")
                row_line "$1" "$2" quota "$QUOTA_CPUS" "$bound" "$(ratio_of "$WALL" "$bound")" 1.25
            fi
            ;;
        think) think_row "$1" "$2" think "$CORES" ;;
        think4) think_row "$1" "$2" think4 4 ;;
        paced) paced_row "$1" "$2" ;;
        *)
            if [ "$3" -le "$CORES" ]; then cores_row "$1" "$2" "$3" "$3"; fi
            ;;
    esac
}

# ---------------------------------------------------------------- the run

for row in "${ROWS[@]}"; do
    if [ "$row" = quota ] && ! make_quota_cgroup; then
        echo "no CPU-quota cgroup can be made here: the quota row is left out"
        remove_quota_cgroup
        QUOTA_DIR=""
    fi
done
for i in "${!REFEREES[@]}"; do echo "referee $i: ${REFEREES[$i]}"; done
: >"$RESULTS"
printf '%-4s %-3s %-8s %5s %8s %8s %8s %6s %6s  %s\n' ref rep row cores wall_s cpu_s ref_s ratio target met
for rep in $(seq "$REPEATS"); do
    for i in "${!REFEREES[@]}"; do
        reference_rows "$i" "$rep"
        for row in "${ROWS[@]}"; do play_row "$i" "$rep" "$row"; done
    done
done
echo "ref_s: the bound (cores rows), W1 (think rows), the 1000 frames fast on one core (paced)"

# Each row's median ratio judges its target; a match that did not end
# "Successful" misses it whatever its ratio.
sort -k1,1n -k2,2 -k3,3n "$RESULTS" | awk -v ok=1 '
    function flush() {
        if (n == 0) return
        m = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        printf "%s %s %.2f %.2f %.2f %s %s\n", ref, row, m, v[1], v[n], target, (m <= target && ok) ? "yes" : "no"
        n = 0
        ok = 1
    }
    $1 != ref || $2 != row { flush(); ref = $1; row = $2 }
    { v[++n] = $3; target = $4; ok = ok && $5 }
    END { flush() }' >"$WORK/summary"
if [ "$REPEATS" -gt 1 ] || [ ${#REFEREES[@]} -gt 1 ]; then
    echo "over $REPEATS repeat(s):"
    printf '%-4s %-8s %6s %6s %6s %6s  %s\n' ref row median min max target met
    while read -r ref row median lo hi target met; do
        printf '%-4s %-8s %6s %6s %6s %6s  %s\n' "$ref" "$row" "$median" "$lo" "$hi" "$target" "$met"
    done <"$WORK/summary"
fi
missed=$(awk '$7 == "no" { printf " %s:%s", $1, $2 }' "$WORK/summary")
if [ -z "$missed" ]; then
    echo "targets met"
else
    echo "targets missed (referee:row):$missed"
    exit 1
fi
