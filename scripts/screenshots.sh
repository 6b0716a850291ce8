#!/usr/bin/env bash
# Renders every window, menu and message box to PNG files and prints the folder.
# Usage: scripts/screenshots.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
out=${1:-$PWD/out/screenshots}
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKUVONA_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target kuvona-screenshots >/dev/null
mkdir -p "$out"
LANG=zh_CN.UTF-8 QT_QPA_PLATFORM=offscreen build-release/app/kuvona-screenshots "$out" >/dev/null
echo "$out"
