#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds every preset and runs every test:
# the unit and tool tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# the unit tests again under ThreadSanitizer, and the checks of the Windows
# programs, and the fuzz targets for a short fixed time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

jobs=$(nproc)
for preset in host-asan host-tsan windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

ctest --preset host-tsan -L unit -j "$jobs"
ctest --preset windows -j "$jobs" --no-tests=ignore
# The fuzz targets, built with clang in their own tree, for a fixed time each.
bash tools/fuzz.sh

ctest --preset host-asan -j "$jobs"
