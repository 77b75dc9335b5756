#!/bin/bash
# Long versions of the stress tests: the whole program built with AddressSanitizer (LeakSanitizer
# included), 500 churn cycles, a client stopped for 30 s, every signal storm and hostile file.
# BUILD_DIR chooses the build directory; CYCLES and PAUSE_SECONDS the lengths.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$source_dir/build-stress-asan}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLANE_SANITIZE=ON
fi
nice -n 10 cmake --build "$build" -j2 --target tst_stress vorlane_application vorlane_probe

# The suppressions of leaks inside Qt that every test run shares; full unwinding lets them match.
export LSAN_OPTIONS="suppressions=$source_dir/scripts/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0"
export VORLANE_CHURN_CYCLES=${CYCLES:-500}
export VORLANE_PAUSE_SECONDS=${PAUSE_SECONDS:-30}
if [ $# -gt 0 ]; then
    exec "$build/tests/stress/tst_stress" "$@"
fi
status=0
"$build/tests/stress/tst_stress" || status=1
exit $status
