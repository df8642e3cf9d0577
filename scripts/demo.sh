#!/bin/bash
# The installer's whole job on this machine: builds everything, publishes a
# sample manager package (the setup stand-in packed with 7z) on the local
# package server, runs the installer under Wine against it, reports how the
# run ended and leaves a screenshot of the progress window.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh >/dev/null

echo "== building"
cmake -S . -B build/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/x86 -j2 >/dev/null
cmake -S . -B build/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake -DCMAKE_BUILD_TYPE=Release \
  -DSHIPPED_PROGRAM="$PWD/build/x86/PellucastWebInstaller.exe" >/dev/null
cmake --build build/x64 -j2 --target webinstaller setup_standin decoder_dll >/dev/null
echo "shipped program: build/x86/PellucastWebInstaller.exe ($(stat -c %s build/x86/PellucastWebInstaller.exe) bytes)"

# The 64-bit build runs here: 32-bit Wine needs processor emulation and
# takes minutes to start (scripts/smoke-i686.sh runs the shipped program).
echo "== publishing a sample package"
export PACKAGE_SERVER_ROOT="$PWD/build/demo-server"
rm -rf "$PACKAGE_SERVER_ROOT"
server/publish.sh build/x64/stand_ins/setup.exe 1.0.0 build/x64/decoder/7zDecoder.dll

source scripts/wine-env.sh
source scripts/wine-installer-run.sh
trap 'stop_package_server; wine_env_stop' EXIT
wine_env_start "$PWD/build/demo-prefix" 92
start_package_server "$PACKAGE_SERVER_ROOT"

# A machine without the manager, with nothing downloaded yet.
forget_manager
rm -rf "$(installer_work_folder)"
manager_folder="$(unix_path_of 'C:\Program Files\Zemrik Security\Manager')"
rm -rf "$manager_folder"

echo "== running the installer"
scripts/wine-run build/x64/PellucastWebInstaller.exe &
installer=$!
# The window is up for about a second before the setup runs with it hidden.
for _ in $(seq 400); do
  if xdotool search --onlyvisible --name "Pellucast Firefox Addon Web-Installer" >/dev/null 2>&1; then
    import -window root build/demo-screenshot.png 2>/dev/null || true
    break
  fi
  sleep 0.02
done
set +e
wait "$installer"
code=$?
set -e

echo "== outcome"
echo "installer exit code: $code"
echo "downloaded into the work folder:"
ls -l "$(installer_work_folder)" | tail -n +2 | sed 's/^/  /'
echo "the setup stand-in ran as:"
read_standin_log "$manager_folder/setup.log" | sed 's/^/  /'
echo "the manager stand-in received:"
read_standin_log "$manager_folder/manager.log" | sed 's/^/  /'
echo "screenshot: build/demo-screenshot.png"
if [ "$code" -eq 0 ] && read_standin_log "$manager_folder/manager.log" | grep -q -- '--requestInstall:{D886EFBF-8CCD-43c6-B32B-BFD85F4E6EEB}'; then
  echo "RESULT: the manager was installed and asked to install the add-on"
else
  echo "RESULT: the installation did not complete"
  exit 1
fi
