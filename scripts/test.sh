#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test with ctest and prints its summary.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"
cd "$build"
ctest --output-on-failure --timeout 300 "$@"
