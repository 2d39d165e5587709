#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs the link and device tests under
# ThreadSanitizer (DOSER_SKIP_TSAN=1 leaves that out), then every test with ctest and prints its summary
# last. Fails when either run fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/build.sh" -DBUILD_TESTING=ON
tsan_status=0
if [ "${DOSER_SKIP_TSAN:-0}" != 1 ]; then
    bash "$root/scripts/test-tsan.sh" || tsan_status=$?
fi
build="${BUILD_DIR:-$root/build}"
cd "$build"
main_status=0
ctest --output-on-failure --timeout 300 "$@" || main_status=$?
if [ "$tsan_status" -ne 0 ]; then
    echo "The ThreadSanitizer run of the link and device tests failed (its summary is above)." >&2
fi
if [ "$main_status" -ne 0 ]; then exit "$main_status"; fi
exit "$tsan_status"
