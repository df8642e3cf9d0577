#!/bin/bash
# Builds the shipped (i686) and test (x86_64) programs and runs every test
# under Wine on a virtual display. Installs what it needs on the first run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

cmake -S . -B build/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DCMAKE_BUILD_TYPE=Release
cmake --build build/x86 -j2
cmake -S . -B build/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake -DCMAKE_BUILD_TYPE=Release \
  -DSHIPPED_PROGRAM="$PWD/build/x86/PellucastWebInstaller.exe"
cmake --build build/x64 -j2

source scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$PWD/build/wineprefix" 91
ctest --test-dir build/x64 --output-on-failure
