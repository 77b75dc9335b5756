#!/bin/bash
# Long run of the hostile Wayland client (vorlane_wlfuzz) against the compositor built with
# AddressSanitizer and UndefinedBehaviorSanitizer: SECONDS_TO_RUN (default 600). Extra
# arguments replace the client's, e.g. "--replay SEED" to repeat one sequence.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$source_dir/build-asan}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLANE_SANITIZE=ON
fi
nice -n 10 cmake --build "$build" -j2 --target tst_wlfuzz vorlane_wlfuzz vorlane_application

export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0"
export LSAN_OPTIONS="suppressions=$source_dir/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
export VORLANE_WLFUZZ_SECONDS=${SECONDS_TO_RUN:-600}
export VORLANE_WLFUZZ_ARGS="$*"
# Qt Test ends any test function after five minutes unless told otherwise.
export QTEST_FUNCTION_TIMEOUT=$(((VORLANE_WLFUZZ_SECONDS + 600) * 1000))
exec "$build/tests/fuzz/tst_wlfuzz"
