#!/usr/bin/env bash
# Builds the project twice, plainly (build/) and with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), and runs every test on both builds.
# Installs the Debian packages it needs first. Extra arguments go to ctest.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"

jobs=$(nproc)
configure_and_build() {
    local dir=$1
    shift
    cmake -S "$root" -B "$root/$dir" -G Ninja "$@"
    cmake --build "$root/$dir" -j "$jobs"
}

run_tests() {
    local dir=$1
    shift
    echo "== tests of $dir"
    (cd "$root/$dir" && ctest --output-on-failure -j "$jobs" "$@")
}

configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVORLANE_SANITIZE=ON

status=0
run_tests build "$@" || status=1

# The sanitizer options reach every process the tests start, the compositor included.
# Leaks inside the system's graphics and font libraries are theirs, not ours.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=0:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
run_tests build-asan "$@" || status=1

if [ "$status" -eq 0 ]; then
    echo "All tests passed in both builds."
fi
exit "$status"
