#!/usr/bin/env bash
# The run command: installs what is missing, builds, then starts the doser simulator and the workstation
# together in the workstation's working directory (run/ beside the sources, where data.db lives and where
# ports/d415 links to the simulator's line). Closing the workstation ends the simulator too.
#
#   scripts/run.sh                 the station against the simulated doser
#   NO_SIMULATOR=1 scripts/run.sh  the station alone, for a real doser linked into run/ports/
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
work="${RUN_DIR:-$root/run}"

# Say it before the long build: without a screen the station has nowhere to show itself.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display: the workstation needs a screen. Set DISPLAY (or WAYLAND_DISPLAY) to the panel's" >&2
    echo "screen and run this again, for example: DISPLAY=:0 scripts/run.sh" >&2
    exit 1
fi

# Only the two programs: the tests and benchmarks are left to the test command.
DEPS=run bash "$root/scripts/build.sh" -DBUILD_TESTING=OFF
mkdir -p "$work/ports"
cd "$work"

# Copies standard input into FILE; past LOG_LIMIT bytes (10 MB) FILE becomes FILE.1 (the one before is
# dropped) and a new FILE begins, so the two hold the latest conversation and never more than twice that.
keep_bounded() {
    local file="$1" limit="${LOG_LIMIT:-10000000}" size=0 line
    # Ctrl+C is for the station and the simulator; this ends when the simulator closes its side.
    trap "" INT TERM HUP
    exec 3>"$file"
    while IFS= read -r line; do
        printf '%s\n' "$line" >&3
        size=$((size + ${#line} + 1))
        if [ "$size" -ge "$limit" ]; then
            mv -f "$file" "$file.1"
            exec 3>"$file"
            size=0
        fi
    done
    exec 3>&-
}

sim_pid=""
log_pid=""
station_pid=""
station_options=()
stop_simulator() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
# A signal to this script closes the workstation the orderly way (its stop-work command still reaches
# the doser), and the simulator ends after it.
close_station() {
    if [ -n "$station_pid" ] && kill -0 "$station_pid" 2>/dev/null; then
        kill -TERM "$station_pid" 2>/dev/null || true
    fi
}
trap stop_simulator EXIT
trap close_station INT TERM HUP

if [ "${NO_SIMULATOR:-0}" != 1 ]; then
    # The simulator's conversation goes to a file kept under a bound (about 125 MB a day otherwise);
    # the station's own log stays on this terminal.
    exec {log_fd}> >(keep_bounded "$work/simulator.log")
    log_pid=$!
    "$build/sim/d415-sim" --no-control </dev/null 2>&$log_fd &
    sim_pid=$!
    exec {log_fd}>&-
    for _ in $(seq 1 100); do
        [ -L "$work/ports/d415" ] && break
        if ! kill -0 "$sim_pid" 2>/dev/null; then
            echo "The doser simulator did not start; its log:" >&2
            wait "$log_pid" 2>/dev/null || true
            cat "$work/simulator.log" >&2
            exit 1
        fi
        sleep 0.05
    done
    if [ ! -L "$work/ports/d415" ]; then
        echo "The doser simulator started but made no line in $work/ports/; its log: $work/simulator.log" >&2
        exit 1
    fi
    echo "Doser simulator on $work/ports/d415 (doser 30); its conversation: $work/simulator.log"
    # The demonstration talks to the simulator only, never to the machine's own serial devices.
    station_options=(--ports-only)
fi

"$build/app/d415-workstation" "${station_options[@]}" "$@" &
station_pid=$!
status=0
wait "$station_pid" || status=$?
# A signal ends the wait early; the station is closing then, and its own status is waited for.
while kill -0 "$station_pid" 2>/dev/null; do
    status=0
    wait "$station_pid" || status=$?
done
if [ "$status" -ne 0 ] && [ "$status" -lt 128 ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "The workstation ended with status $status. If it could not open the display" \
        "(${DISPLAY:-${WAYLAND_DISPLAY:-}}), check that the screen is on and that this user may use it." >&2
fi
exit "$status"
