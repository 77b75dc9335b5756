#!/bin/bash
# Runs every benchmark and prints its tables: Vorlane beside weston (kiosk shell) and cage, each
# in a like environment, Vorlane alone under load, hostile configuration, and the in-process
# benchmarks of the library. Installs the peers when they are missing and builds a Release tree.
#   RUNS=5 (runs per figure)  QUICK=1 (smaller counts)  BUILD_DIR=<dir>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=${BUILD_DIR:-$source_dir/build-robust-bench}
runs=${RUNS:-5}

missing=()
command -v weston >/dev/null || missing+=(weston)
command -v cage >/dev/null || missing+=(cage)
command -v Xwayland >/dev/null || missing+=(xwayland)
command -v Xvfb >/dev/null || missing+=(xvfb)
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >&2
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
fi
targets=(vorlane_application vorlane_probe bench_compositors)
for extra in bench_layouts bench_registry bench_shmguard; do
    if grep -q "^build bench/$extra:" "$build/build.ninja" 2>/dev/null \
        || grep -q "$extra" "$here/CMakeLists.txt"; then
        targets+=("$extra")
    fi
done
nice -n 10 cmake --build "$build" -j2 --target "${targets[@]}" >&2

echo "# Vorlane benchmarks ($(date -u +%Y-%m-%d), $(nproc) cores, Qt $(qtpaths6 --qt-version 2>/dev/null || echo 6))"
args=(--vorlane "$build/application/vorlane_application"
      --probe "$build/tests/e2e/probe/vorlane_probe"
      --quickbar "$here/BenchQuickBar.qml" --examples "$source_dir/examples" --runs "$runs")
[ -n "${QUICK:-}" ] && args+=(--quick)
"$build/bench/bench_compositors" "${args[@]}"

nice -n 10 cmake --build "$build" -j2 --target bench_hostile >&2 && "$build/bench/bench_hostile" --vorlane "$build/application/vorlane_application" --probe "$build/tests/e2e/probe/vorlane_probe" --stress-dir "$build/tests/stress" --runs "$runs"

for extra in bench_layouts bench_registry bench_shmguard; do
    if [ -x "$build/bench/$extra" ]; then
        echo
        echo "## $extra"
        echo '```'
        "$build/bench/$extra"
        echo '```'
    fi
done

echo
nice -n 10 cmake --build "$build" -j2 --target bench_onscreenkeyboard vorlane_textinputprobe >&2 \
    && "$build/bench/bench_onscreenkeyboard" --vorlane "$build/application/vorlane_application" \
        --probe "$build/tests/e2e/probe/vorlane_textinputprobe" --runs "$runs"

echo
echo "(bench/run.sh took ${SECONDS} s)"
