#!/bin/bash
# Runs the download benchmark under Wine with a display of its own.
#   bench/download/run.sh [BUILD_DIR [WINEPREFIX [DISPLAY_NUMBER [MEGABYTES [ROUNDS]]]]]
# BUILD_DIR is an x86_64 build that has the download_bench target built.

here="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$here/build/x64}"
prefix="${2:-$build/wineprefix}"
display="${3:-90}"
megabytes="${4:-100}"
rounds="${5:-2}"
program="$build/bench/download/download_bench.exe"
[ -f "$program" ] || { echo "build it first: cmake --build $build --target download_bench" >&2; exit 1; }
source "$here/scripts/wine-env.sh"
wine_env_start "$prefix" "$display"
status=0
"$here/scripts/wine-run" "$program" "$megabytes" "$rounds" || status=$?
wine_env_stop
exit $status
