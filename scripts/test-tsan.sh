#!/usr/bin/env bash
# The link and device tests (the exchange thread and its users) built with ThreadSanitizer into
# build-tsan/ and run with ctest; any report fails its test. Qt's own uninstrumented internals are
# suppressed by tests/tsan.supp.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TSAN_BUILD_DIR:-$root/build-tsan}"
tests=(tst_packet tst_directioncontrol tst_serialport tst_d415link tst_device tst_d415device tst_doserline)
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOSER_TSAN=ON >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)" --target "${tests[@]}" 2>&1 |
    { grep -v -E '^\[ *[0-9]+%\] (Built target|Automatic MOC and UIC)|^Built target' || true; }
# The simulator is started with fork/exec from a test that already runs threads.
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp die_after_fork=0"
cd "$build"
ctest --output-on-failure --timeout 300 -R "^($(IFS='|'; echo "${tests[*]}"))\$"
