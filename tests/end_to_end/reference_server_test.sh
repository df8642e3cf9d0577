#!/bin/bash
# The installer under Wine against the reference package server: a fresh
# install, a second run that finds the package complete and downloads no body
# again, and a newer package that the next run fetches.
#   reference_server_test.sh SOURCE_DIR INSTALLER SETUP_STANDIN DECODER_DLL
# Runs in the Wine prefix and display that the test command set up.
set -euo pipefail
source_dir=$1 installer=$2 setup=$3 decoder=$4
cd "$source_dir"
source scripts/wine-installer-run.sh

scratch=$(mktemp -d)
export PACKAGE_SERVER_ROOT=$scratch/tree
export PMTEST_INSTALL_DIR='C:\reference-server-test'
install_folder=$(unix_path_of "$PMTEST_INSTALL_DIR")
work_folder=$(installer_work_folder)
failures=0
passes=0

cleanup() {
  stop_package_server
  forget_manager
  rm -rf "$scratch" "$install_folder" "$work_folder"
}
trap cleanup EXIT

check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passes=$((passes + 1))
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}

run_installer() {
  local code=0
  timeout 120 "$source_dir/scripts/wine-run" "$installer" || code=$?
  echo "$code"
}

addon_requests() {
  read_standin_log "$install_folder/manager.log" | grep -c -- '--requestInstall:{D886EFBF-8CCD-43c6-B32B-BFD85F4E6EEB}' || true
}

setup_runs() {
  read_standin_log "$install_folder/setup.log" | grep -c '/NORESTART /SILENT' || true
}

cleanup
mkdir -p "$scratch"
server/publish.sh "$setup" 1.0.0 "$decoder" >/dev/null
start_package_server "$PACKAGE_SERVER_ROOT"

echo "== a machine without the manager"
check "the installer ends with exit code 0" [ "$(run_installer)" = 0 ]
check "the setup ran once" [ "$(setup_runs)" = 1 ]
check "the manager got the add-on request" [ "$(addon_requests)" = 1 ]
check "the package lies in the work folder" [ -f "$work_folder/manager-1.0.0.7z" ]

echo "== the manager removed, the package already complete"
forget_manager
before=$(stat -c '%y' "$work_folder/manager-1.0.0.7z" "$work_folder/manager-1.0.0.7z.part" "$work_folder/7zDecoder.dll")
check "the installer ends with exit code 0" [ "$(run_installer)" = 0 ]
after=$(stat -c '%y' "$work_folder/manager-1.0.0.7z" "$work_folder/manager-1.0.0.7z.part" "$work_folder/7zDecoder.dll")
check "no downloaded file or state was written again" [ "$before" = "$after" ]
check "the setup ran again" [ "$(setup_runs)" = 2 ]
check "the manager got the add-on request again" [ "$(addon_requests)" = 2 ]

echo "== a newer package published"
server/publish.sh "$setup" 1.10.0 "$decoder" >/dev/null
forget_manager
check "the installer ends with exit code 0" [ "$(run_installer)" = 0 ]
check "the newer package was fetched" [ -f "$work_folder/manager-1.10.0.7z" ]
check "the setup ran a third time" [ "$(setup_runs)" = 3 ]
check "the manager got the add-on request a third time" [ "$(addon_requests)" = 3 ]

echo "$passes passed, $failures failed"
[ "$failures" = 0 ]
