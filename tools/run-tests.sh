#!/usr/bin/env bash
# Installs what is needed, builds everything with warnings as errors and the address and
# undefined-behaviour sanitizers, runs the whole test suite, then runs each fuzz target for a
# bounded time on top of its seed corpus. Exits non-zero when anything fails. Leak detection is
# off for the fuzzers: Qt 5.15's JSON parser itself leaks a few objects on malformed documents.
#   FUZZ_SECONDS=60   time per fuzz target (0 skips fuzzing)
#   BUILD_DIR=build-ci
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-ci}
fuzz_seconds=${FUZZ_SECONDS:-60}
jobs=$(nproc)

bash tools/install-deps.sh
bash tools/install-page-scripts.sh

# The sanitizers stop at the first error. Leak reports are off: Qt keeps global objects (screens,
# fonts, JSON parser state) alive until exit, which LeakSanitizer reports on every GUI program,
# including the image generator that runs during the build.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DWARNINGS_AS_ERRORS=ON -DENABLE_SANITIZERS=ON -DBUILD_BENCHMARKS=ON
cmake --build "$build" -j"$jobs"

status=0
(cd "$build" && ctest --output-on-failure -j"$jobs" --timeout 600) || status=1

if [ "$fuzz_seconds" -gt 0 ]; then
  fuzz_build=${build}-fuzz
  CC=clang CXX=clang++ cmake -S . -B "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_FUZZERS=ON -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF
  cmake --build "$fuzz_build" -j"$jobs" --target fuzz_targets
  for target in "$fuzz_build"/tests/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=$(mktemp -d)
    cp -r "$root/tests/fuzz/corpus/$name/." "$corpus/" 2>/dev/null || true
    echo "fuzz: $name for ${fuzz_seconds}s"
    if ! QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='*.debug=false' ASAN_OPTIONS=detect_leaks=0 \
        "$target" -max_total_time="$fuzz_seconds" -max_len=65536 -detect_leaks=0 \
        -artifact_prefix="$fuzz_build/$name-" "$corpus" > "$fuzz_build/$name.log" 2>&1; then
      echo "fuzz: $name found a crash, see $fuzz_build/$name.log"; tail -n 40 "$fuzz_build/$name.log"
      status=1
    else
      grep -E '^(Done|#[0-9]+ +DONE)' "$fuzz_build/$name.log" | tail -n 1 || true
    fi
    rm -rf "$corpus"
  done
fi

exit $status
