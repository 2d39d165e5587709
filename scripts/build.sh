#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into build/ (incremental when run again).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
build="${BUILD_DIR:-$root/build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# Only the work actually done is shown (compiles, links, warnings, errors): a run with nothing to build
# stays silent instead of listing every target again.
cmake --build "$build" --parallel "$(nproc)" 2>&1 |
    { grep -v -E '^\[ *[0-9]+%\] (Built target|Automatic MOC and UIC)|^Built target' || true; }
