# Sourced by the demo and the end-to-end test: runs the installer program
# against the local package server in the current Wine prefix.

# The Unix path of a folder the Windows programs name by a Windows path.
unix_path_of() {
  /usr/lib/wine/wine64 winepath -u "$1" 2>/dev/null | tr -d '\r'
}

# The work folder that the installer keeps its downloads in.
installer_work_folder() {
  local temp
  temp=$(/usr/lib/wine/wine64 cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
  echo "$(unix_path_of "$temp")/pmanager-temp"
}

# Removes the manager's registry key, as an uninstall would.
forget_manager() {
  /usr/lib/wine/wine64 reg delete 'HKLM\Software\Zemrik Security\Manager' /f >/dev/null 2>&1 || true
}

# The lines of a UTF-16 log that a stand-in wrote.
read_standin_log() {
  [ -f "$1" ] && iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r'
}

# Starts the local package server in the background on the installer's port
# and waits until it answers: start_package_server DOCROOT
start_package_server() {
  server/serve.sh "$1" 8870 >"$1.log" 2>&1 &
  PACKAGE_SERVER_PID=$!
  for _ in $(seq 100); do
    curl -s -o /dev/null http://127.0.0.1:8870/ && return 0
    sleep 0.1
  done
  echo "the package server did not start" >&2
  return 1
}

stop_package_server() {
  [ -n "${PACKAGE_SERVER_PID:-}" ] && kill "$PACKAGE_SERVER_PID" 2>/dev/null
  PACKAGE_SERVER_PID=
  return 0
}
