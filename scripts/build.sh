#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/ (incremental when run again).
# Options after the script's name go to CMake's configure step; the run command passes
# -DBUILD_TESTING=OFF (only the programs), the test command -DBUILD_TESTING=ON. DEPS=run installs only
# what the programs need.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh" "${DEPS:-test}"
build="${BUILD_DIR:-$root/build}"
# Configured every time: a configure that failed once (a package was missing) is never taken for done,
# and a changed option takes effect. Its messages are shown only when it fails.
if ! log="$(cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" 2>&1)"; then
    echo "$log" >&2
    exit 1
fi
# Only the work actually done is shown (compiles, links, warnings, errors): a run with nothing to build
# stays silent instead of listing every target again.
cmake --build "$build" --parallel "$(nproc)" 2>&1 |
    { grep -v -E '^\[ *[0-9]+%\] (Built target|Automatic MOC and UIC)|^Built target' || true; }
