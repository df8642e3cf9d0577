#!/bin/sh
# Runs the local package server in the foreground until it is stopped.
#   server/serve.sh [DOCROOT [PORT]]
# DOCROOT is the published tree (default: $PACKAGE_SERVER_ROOT, else
# build/package-server in the source tree); PORT defaults to 8870, the port of
# the installer's default server address. It listens on 127.0.0.1 only.
# The shell is replaced by php, so the caller's background job id is the
# server's process id.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
docroot=${1:-${PACKAGE_SERVER_ROOT:-$here/../build/package-server}}
port=${2:-8870}
case $port in
  ''|*[!0-9]*) echo "serve.sh: PORT must be a number: $port" >&2; exit 2 ;;
esac
mkdir -p "$docroot"
# One process serves one request at a time; the installer sends its requests
# one after another, so no workers are started.
exec php -d expose_php=0 -S "127.0.0.1:$port" -t "$docroot" "$here/router.php"
