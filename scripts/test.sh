#!/usr/bin/env bash
# Builds the project twice, plainly (build/) and with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), and runs every test on both builds.
# Installs the Debian packages it needs first. Extra arguments go to ctest.
# VORLANE_BUILD_DIR renames the two build directories (<name> and <name>-asan);
# VORLANE_PLAIN_ONLY=1 builds and tests only the plain build; VORLANE_TEST_JOBS sets how many
# tests run at once (default: the number of cores).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"

jobs=$(nproc)
test_jobs=${VORLANE_TEST_JOBS:-$jobs}
plain_only=${VORLANE_PLAIN_ONLY:-}
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
    (cd "$root/$dir" && ctest --output-on-failure -j "$test_jobs" "$@")
}

plain=${VORLANE_BUILD_DIR:-build}
sanitized=$plain-asan
configure_and_build "$plain" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -z "$plain_only" ]; then
    configure_and_build "$sanitized" -DCMAKE_BUILD_TYPE=Debug -DVORLANE_SANITIZE=ON
fi

status=0
run_tests "$plain" "$@" || status=1
if [ -n "$plain_only" ]; then
    [ "$status" -eq 0 ] && echo "All tests of the plain build passed."
    exit "$status"
fi

# The sanitizer options reach every process the tests start, the compositor included. Full
# unwinding on allocation lets the suppressions of Qt's own leaks (scripts/lsan.supp) match by
# function, as Debian's Qt is built without frame pointers.
export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
# Tests labelled heavy (real browsers) are run in the plain build only.
run_tests "$sanitized" -LE heavy "$@" || status=1

# The parsers' fuzz targets (clang and libFuzzer): built and run briefly, 60 s each.
if [ -z "${VORLANE_SKIP_FUZZ:-}" ] && command -v clang++ >/dev/null; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$root/$plain-fuzz" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLANE_FUZZ=ON
    cmake --build "$root/$plain-fuzz" -j "$jobs" --target fuzz_details fuzz_layout fuzz_settings
    (cd "$root/$plain-fuzz" && ctest --output-on-failure -L fuzz) || status=1
fi

if [ "$status" -eq 0 ]; then
    echo "All tests passed in both builds."
fi
exit "$status"
