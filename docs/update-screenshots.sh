#!/usr/bin/env bash
# Renders the window as it starts, each of its pages, and the window connected to simulated
# units into docs/ (offscreen: no display
# needed), as small palette PNGs.
#   docs/update-screenshots.sh [build-dir]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target morlen_screenshots morlen_connected_screenshots
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
QT_QPA_PLATFORM=offscreen "$build/tests/window/morlen_screenshots" "$shots"
# Connected to simulated units, with live values and filled charts.
QT_QPA_PLATFORM=offscreen "$build/tests/engine/morlen_connected_screenshots" "$shots"
for f in "$shots"/*.png; do
    convert "$f" -dither None -colors 96 -define png:compression-level=9 "PNG8:docs/$(basename "$f")"
done
