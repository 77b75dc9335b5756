#!/bin/bash
# Long fuzz runs: builds the libFuzzer targets with clang and runs each for SECONDS (default
# 600), one after another. Findings land in <build>/tests/fuzz/work-<kind>/artifacts; copy a
# crasher into regressions/<kind>/ once it is fixed so that the replay test keeps it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$source_dir/build-fuzz}
seconds=${SECONDS_PER_TARGET:-600}
kinds=${*:-details layout settings}

if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLANE_FUZZ=ON
fi
targets=()
for kind in $kinds; do targets+=("fuzz_$kind"); done
nice -n 10 cmake --build "$build" -j2 --target "${targets[@]}"

status=0
for kind in $kinds; do
    work="$build/tests/fuzz/work-$kind"
    mkdir -p "$work/corpus" "$work/artifacts"
    echo "== fuzz_$kind for ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        nice -n 10 "$build/tests/fuzz/fuzz_$kind" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=4096 -max_len=65536 -print_final_stats=1 \
        -dict="$here/$kind.dict" -artifact_prefix="$work/artifacts/" \
        "$work/corpus" "$here/corpus/$kind" "$here/regressions/$kind" > "$work/log.txt" 2>&1; then
        echo "fuzz_$kind FOUND A PROBLEM: see $work/log.txt and $work/artifacts"
        status=1
    fi
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^Done' "$work/log.txt" || true
    ls "$work/artifacts"
done
exit $status
