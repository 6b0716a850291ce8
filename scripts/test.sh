#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and AddressSanitizer +
# UndefinedBehaviorSanitizer, runs every test, then a bounded run of each fuzz target.
# Environment: KUVONA_FUZZ_SECONDS (per target, default 60), KUVONA_JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh test

jobs=${KUVONA_JOBS:-$(nproc)}
build=$root/build-test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DKUVONA_WERROR=ON -DKUVONA_SANITIZE=ON \
      -DKUVONA_BUILD_TESTS=ON -DKUVONA_BUILD_BENCH=ON
cmake --build "$build" -j "$jobs"

export QT_QPA_PLATFORM=offscreen
# The widget tests leak nothing of ours, but Qt and fontconfig keep caches for the process's life.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd "$build" && ctest --output-on-failure -j "$jobs")

# ThreadSanitizer on the code that runs on several threads without widgets: the fetches, their
# shared set-up and their stop flags. (Debian's Qt is not built for it; widget code would only
# show races inside Qt.)
tsan_build=$root/build-tsan
cmake -S . -B "$tsan_build" -DCMAKE_BUILD_TYPE=Debug -DKUVONA_TSAN=ON -DKUVONA_WERROR=ON -DKUVONA_BUILD_BENCH=OFF
cmake --build "$tsan_build" -j "$jobs" --target tst_http_threads tst_http_get kuvona-service
# The tests start the reference service with fork/exec, which ThreadSanitizer would refuse.
(cd "$tsan_build" && TSAN_OPTIONS="halt_on_error=1 die_after_fork=0" \
    ctest --output-on-failure -R '^(tst_http_threads|tst_http_get)$')

# Fuzz targets need clang's libFuzzer, so they get a build of their own without the toolkit.
fuzz_build=$root/build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKUVONA_FUZZ_ONLY=ON \
      -DKUVONA_WERROR=ON
cmake --build "$fuzz_build" -j "$jobs"
seconds=${KUVONA_FUZZ_SECONDS:-60}
for target in "$fuzz_build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=$root/fuzz/corpus/${name#fuzz_}
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    echo "== $name: ${seconds}s"
    ASAN_OPTIONS=detect_leaks=1 "$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$fuzz_build/$name-" "$work" 2>&1 | grep -E '^(stat::number_of_executed_units|#[0-9]+ +DONE|==[0-9]+==ERROR|SUMMARY)' || true
    status=${PIPESTATUS[0]}
    rm -rf "$work"
    if [ "$status" -ne 0 ]; then
        echo "$name failed (status $status); reproducer in $fuzz_build" >&2
        exit 1
    fi
done
echo "All tests passed."
