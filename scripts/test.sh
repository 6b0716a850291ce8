#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and AddressSanitizer +
# UndefinedBehaviorSanitizer, runs every test, then a bounded run of each fuzz target.
#
# Usage: scripts/test.sh [STAGE]
#   unit     the Debug build with ASan + UBSan and every ctest test
#   tsan     the multi-threaded fetch tests under ThreadSanitizer
#   fuzz     each libFuzzer target for KUVONA_FUZZ_SECONDS
#   package  the Debian package as a user gets it: built, checked by lintian, installed, started,
#            purged (needs root or sudo; changes the machine's installed packages)
# Without a stage, all four run in that order.
# Environment: KUVONA_FUZZ_SECONDS (per target, default 60), KUVONA_JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

stage=${1:-all}
case "$stage" in
    all | unit | tsan | fuzz | package) ;;
    *)
        echo "usage: scripts/test.sh [unit|tsan|fuzz|package]" >&2
        exit 2
        ;;
esac

scripts/deps.sh test

jobs=${KUVONA_JOBS:-$(nproc)}
# A developer's machine with ccache rebuilds only what changed, also across work trees.
launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

run_unit() {
    local build=$root/build-test
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DKUVONA_WERROR=ON -DKUVONA_SANITIZE=ON \
          -DKUVONA_BUILD_TESTS=ON -DKUVONA_BUILD_BENCH=ON "${launcher[@]}"
    cmake --build "$build" -j "$jobs"

    export QT_QPA_PLATFORM=offscreen
    # The widget tests leak nothing of ours, but Qt and fontconfig keep caches for the process's life.
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    (cd "$build" && ctest --output-on-failure -j "$jobs")
}

# ThreadSanitizer on the code that runs on several threads without widgets: the fetches, their
# shared set-up and their stop flags. (Debian's Qt is not built for it; widget code would only
# show races inside Qt.)
run_tsan() {
    local build=$root/build-tsan
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DKUVONA_TSAN=ON -DKUVONA_WERROR=ON \
          -DKUVONA_BUILD_BENCH=OFF "${launcher[@]}"
    cmake --build "$build" -j "$jobs" --target tst_http_threads tst_http_get kuvona-service
    # The tests start the reference service with fork/exec, which ThreadSanitizer would refuse.
    (cd "$build" && TSAN_OPTIONS="halt_on_error=1 die_after_fork=0" \
        ctest --output-on-failure -R '^(tst_http_threads|tst_http_get)$')
}

# Fuzz targets need clang's libFuzzer, so they get a build of their own without the toolkit.
run_fuzz() {
    local build=$root/build-fuzz
    CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKUVONA_FUZZ_ONLY=ON \
          -DKUVONA_WERROR=ON "${launcher[@]}"
    cmake --build "$build" -j "$jobs"
    local seconds=${KUVONA_FUZZ_SECONDS:-60}
    local target name corpus work log status
    for target in "$build"/fuzz/fuzz_*; do
        [ -x "$target" ] || continue
        name=$(basename "$target")
        corpus=$root/fuzz/corpus/${name#fuzz_}
        work=$(mktemp -d)
        log=$(mktemp)
        [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
        echo "== $name: ${seconds}s"
        # The target's own status decides; the log is only filtered for reading.
        status=0
        ASAN_OPTIONS=detect_leaks=1 "$target" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$build/$name-" "$work" >"$log" 2>&1 || status=$?
        grep -E '^(stat::number_of_executed_units|#[0-9]+ +DONE|==[0-9]+==ERROR|SUMMARY)' "$log" || true
        rm -rf "$work"
        if [ "$status" -ne 0 ]; then
            tail -n 40 "$log" >&2
            rm -f "$log"
            echo "$name failed (status $status); reproducer in $build" >&2
            exit 1
        fi
        rm -f "$log"
    done
}

# The Debian package, tested as a user gets it: a Release build with Debian's hardening flags,
# cpack, lintian, then installed with apt-get, started from /usr/bin with a fresh HOME (its files
# appear in ~/.local/share/kuvona), and purged, leaving none of its files behind.
run_package() {
    local build=$root/build-package
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DKUVONA_BUILD_TESTS=OFF \
          -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
          -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
          -DCMAKE_EXE_LINKER_FLAGS="$(DEB_BUILD_MAINT_OPTIONS=hardening=+bindnow dpkg-buildflags --get LDFLAGS)" "${launcher[@]}" >/dev/null
    # Only what the package holds; cpack installs, it does not build.
    cmake --build "$build" -j "$jobs" --target kuvona kuvona-store kuvona_data
    rm -f "$build"/kuvona_*.deb
    (cd "$build" && cpack -G DEB >/dev/null)
    local deb
    deb=$(ls "$build"/kuvona_*.deb)
    echo "== $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
    dpkg-deb --field "$deb" Depends Recommends
    lintian --fail-on error "$deb"
    scripts/package_test.sh "$deb"
}

for step in unit tsan fuzz package; do
    if [ "$stage" = all ] || [ "$stage" = "$step" ]; then
        "run_$step"
    fi
done
if [ "$stage" = all ]; then
    echo "All tests passed."
else
    echo "Stage $stage passed."
fi
