#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG drawing; run after changing the drawing and
# commit the PNGs with it (the build itself needs no SVG renderer).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
svg=io.github.kuvona.Kuvona.svg
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "${size}x${size}"
    rsvg-convert --width "$size" --height "$size" --format png "$svg" --output "${size}x${size}/io.github.kuvona.Kuvona.png"
done
