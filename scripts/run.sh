#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the workstation in a working directory
# of its own (run/, beside the sources; data.db and the ports/ folder live there).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"
work="${RUN_DIR:-$root/run}"
mkdir -p "$work/ports"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display: set DISPLAY (or WAYLAND_DISPLAY) to the panel's screen and run this again." >&2
    exit 1
fi

cd "$work"
exec "$build/app/d415-workstation" "$@"
