#!/bin/bash
# The package server as the installer meets it: the update answer, static
# files that can be skipped and resumed, and publishing.
#   bash server_test.sh SERVER_DIR
# Starts server/serve.sh on a free loopback port in 8900-8949 over a scratch
# tree and stops it at the end. Requests go through curl, or through PHP's
# own HTTP streams where curl is missing (or TEST_HTTP_CLIENT=php).
set -u
server=$(cd "${1:?usage: server_test.sh SERVER_DIR}" && pwd)
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

docroot=$work/www
packages=$docroot/pellucast_manager/packages
manager=$packages/manager
mkdir -p "$docroot"

# Every fixture gets this modification time, so dates in answers are known.
stamp=@1700000000
stamp_iso=2023-11-14T22:13:20Z
stamp_http='Tue, 14 Nov 2023 22:13:20 GMT'

client=${TEST_HTTP_CLIENT:-curl}
command -v curl >/dev/null 2>&1 || client=php

# fetch NAME METHOD PATH [HEADER...]: prints the answer's status code; its
# header lines (CR removed) go to $work/NAME.head, its body to $work/NAME.body.
fetch() {
  local name=$1 method=$2 path=$3 h
  shift 3
  : >"$work/$name.raw"
  : >"$work/$name.body"
  if [ "$client" = curl ]; then
    local args=()
    for h in "$@"; do args+=(-H "$h"); done
    # -X HEAD would wait for a body that never comes; -I writes the headers
    # to the output file, so that is not the body.
    local out=$work/$name.body
    if [ "$method" = HEAD ]; then args+=(-I); out=/dev/null; else args+=(-X "$method"); fi
    curl -s --path-as-is -m 20 "${args[@]}" -D "$work/$name.raw" -o "$out" "$base$path"
  else
    php -r '
      $headers = array_slice($argv, 5);
      $context = stream_context_create(["http" => ["method" => $argv[2],
          "header" => implode("\r\n", $headers), "ignore_errors" => true,
          "follow_location" => 0, "timeout" => 20]]);
      $body = @file_get_contents($argv[1], false, $context);
      file_put_contents($argv[3], implode("\n", $http_response_header ?? []) . "\n");
      file_put_contents($argv[4], $body === false ? "" : $body);
    ' "$base$path" "$method" "$work/$name.raw" "$work/$name.body" "$@"
  fi
  tr -d '\r' <"$work/$name.raw" >"$work/$name.head"
  sed -n '1s/^HTTP\/[0-9.]* \([0-9]*\).*/\1/p' "$work/$name.head"
}

# The text without the blanks around it, for the columns of the tables.
trim() {
  local t=$1
  t=${t#"${t%%[![:space:]]*}"}
  printf '%s' "${t%"${t##*[![:space:]]}"}"
}

# header NAME FIELD: the value of FIELD in the answer NAME.
header() { sed -n "s/^$2: *//Ip" "$work/$1.head" | head -n 1; }

# The body as a shell value would lose trailing line feeds, and those matter.
body_is() { printf '%b' "$2" | cmp -s - "$work/$1.body"; }

start_server() {
  local first=$(( $$ % 50 )) i port
  for i in $(seq 0 49); do
    port=$(( 8900 + (first + i) % 50 ))
    bash "$server/serve.sh" "$docroot" "$port" >"$work/server.log" 2>&1 &
    pid=$!
    base=http://127.0.0.1:$port
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      [ "$(fetch probe GET /pellucast_manager/packages/manager/get_highest_version.php)" = 200 ] && return 0
      sleep 0.1
    done
    # Usually a port taken by someone else: php has exited; try the next one.
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=
  done
  echo "FAIL: the server did not start on any port in 8900-8949:" >&2
  cat "$work/server.log" >&2
  exit 1
}

start_server
echo "server on $base, requests through $client"

# ---------------------------------------------------------------------------
# The update answer. Each case fills the manager folder (a name ending in /
# is a folder; "!" means the folder does not exist) and names the package the
# answer must name, or "-" for an answer that the installer rejects as
# "Invalid information about package" (fewer than two line feeds).
update_cases='
no_folder          | !                                             | -
empty_folder       |                                               | -
one_package        | manager-1.0.0.7z                              | manager-1.0.0.7z
minor_9_vs_10      | manager-1.9.7z manager-1.10.7z                | manager-1.10.7z
major_2_vs_10      | manager-10.0.7z manager-2.0.7z                | manager-10.0.7z
build_9_vs_10      | manager-1.2.10.7z manager-1.10.0.7z manager-1.9.99.7z | manager-1.10.0.7z
more_components    | manager-1.2.7z manager-1.2.1.7z               | manager-1.2.1.7z
not_packages       | manager-1.0.7z manager-9.0.7z.tmp manager-9.0.zip Manager-9.0.7z manager-09.0.7z manager-9.0.0.0.0.7z manager-9..0.7z manager-.7z manager-9.0-beta.7z .manager-9.0.7z.1.tmp notes.txt manager-9.7z/ | manager-1.0.7z
only_non_packages  | manager-9.0.zip notes.txt manager-9.7z/       | -
'
while IFS='|' read -r case files expected; do
  case=$(trim "$case") expected=$(trim "$expected")
  [ -z "$case" ] && continue
  rm -rf "$manager"
  if [ "$(trim "$files")" != '!' ]; then
    mkdir -p "$manager"
    for f in $files; do
      case $f in
        */) mkdir "$manager/$f" ;;
        *) echo "$f" >"$manager/$f" ;;
      esac
      touch -d "$stamp" "$manager/$f"
    done
  fi
  status=$(fetch "$case" GET /pellucast_manager/packages/manager/get_highest_version.php)
  [ "$status" = 200 ] || { fail "$case: status $status, expected 200"; continue; }
  line_feeds=$(tr -cd '\n' <"$work/$case.body" | wc -c)
  if [ "$expected" = - ]; then
    [ "$line_feeds" -lt 2 ] \
      || fail "$case: the answer has $line_feeds line feeds; the installer would take it for a package name: $(cat "$work/$case.body")"
  else
    version=${expected#manager-}
    version=${version%.7z}
    body_is "$case" "$version\\n$stamp_iso\\n$expected" \
      || fail "$case: answer '$(od -An -c "$work/$case.body" | tr -s " \n" " ")', expected '$version\\n$stamp_iso\\n$expected' with nothing after the name"
  fi
done <<<"$update_cases"

# ---------------------------------------------------------------------------
# Static files. The installer skips a file when Content-Length and
# Last-Modified are unchanged, and resumes it with a Range request. The
# fixture is larger than the router's 64 KiB read so that ranges cross it.
rm -rf "$manager"
mkdir -p "$manager"
dll=$packages/7zDecoder.dll
head -c 70000 /dev/urandom >"$dll"
size=70000
printf '<?php echo "executed";\n' >"$packages/run.php"
echo "outside the tree" >"$work/secret.txt"
touch -d "$stamp" "$dll" "$packages/run.php"
echo "hidden" >"$manager/.manager-9.0.7z.1.tmp"
dll_path=/pellucast_manager/packages/7zDecoder.dll

# name | method | path | request headers separated by ; (or -) | status | body: FIRST-LAST bytes of the fixture, "empty", "file:PATH" or - (not checked)
static_cases="
whole_file         | GET  | $dll_path | -                                        | 200 | 0-69999
range_middle       | GET  | $dll_path | Range: bytes=65000-66000                 | 206 | 65000-66000
range_to_end       | GET  | $dll_path | Range: bytes=1000-                       | 206 | 1000-69999
range_suffix       | GET  | $dll_path | Range: bytes=-10                         | 206 | 69990-69999
range_past_end     | GET  | $dll_path | Range: bytes=69990-99999                 | 206 | 69990-69999
range_beyond_file  | GET  | $dll_path | Range: bytes=70000-                      | 416 | -
several_ranges     | GET  | $dll_path | Range: bytes=0-1,5-6                     | 200 | 0-69999
if_range_current   | GET  | $dll_path | Range: bytes=10-19; If-Range: $stamp_http | 206 | 10-19
if_range_changed   | GET  | $dll_path | Range: bytes=10-19; If-Range: Mon, 13 Nov 2023 00:00:00 GMT | 200 | 0-69999
not_modified       | GET  | $dll_path | If-Modified-Since: $stamp_http           | 304 | empty
modified_since     | GET  | $dll_path | If-Modified-Since: Mon, 13 Nov 2023 00:00:00 GMT | 200 | 0-69999
head_only          | HEAD | $dll_path | -                                        | 200 | -
missing_file       | GET  | /pellucast_manager/packages/nothing.dll | -          | 404 | -
folder             | GET  | /pellucast_manager/packages/manager/ | -             | 404 | -
dot_dot            | GET  | /../secret.txt | -                                   | 404 | -
encoded_dot_dot    | GET  | /%2e%2e/secret.txt | -                               | 404 | -
hidden_file        | GET  | /pellucast_manager/packages/manager/.manager-9.0.7z.1.tmp | - | 404 | -
php_not_executed   | GET  | /pellucast_manager/packages/run.php | -              | 200 | file:$packages/run.php
post               | POST | $dll_path | -                                        | 405 | -
"
while IFS='|' read -r case method path request status body; do
  case=$(trim "$case") method=$(trim "$method") path=$(trim "$path") status=$(trim "$status") body=$(trim "$body")
  [ -z "$case" ] && continue
  headers=()
  if [ "$(trim "$request")" != - ]; then
    IFS=';' read -ra parts <<<"$request"
    for h in "${parts[@]}"; do headers+=("$(trim "$h")"); done
  fi
  got=$(fetch "$case" "$method" "$path" "${headers[@]}")
  [ "$got" = "$status" ] || { fail "$case: status $got, expected $status"; continue; }
  case $body in
    -) ;;
    empty)
      [ -s "$work/$case.body" ] && fail "$case: a body came with status $status" ;;
    file:*)
      cmp -s "${body#file:}" "$work/$case.body" || fail "$case: the body is not the file's bytes" ;;
    *)
      first=${body%-*} last=${body#*-}
      tail -c +$((first + 1)) "$dll" | head -c $((last - first + 1)) >"$work/expected"
      cmp -s "$work/expected" "$work/$case.body" || fail "$case: the body is not bytes $body of the file"
      [ "$(header "$case" Content-Length)" = $((last - first + 1)) ] \
        || fail "$case: Content-Length '$(header "$case" Content-Length)', expected $((last - first + 1))"
      ;;
  esac
  if [ "$path" = "$dll_path" ] && [[ $status = 200 || $status = 206 || $status = 304 ]]; then
    [ "$(header "$case" Last-Modified)" = "$stamp_http" ] \
      || fail "$case: Last-Modified '$(header "$case" Last-Modified)', expected '$stamp_http'"
  fi
  if [ "$case" = head_only ]; then
    [ "$(header "$case" Content-Length)" = $size ] || fail "$case: Content-Length '$(header "$case" Content-Length)', expected $size"
  fi
  if [ "$status" = 206 ]; then
    [ "$(header "$case" Content-Range)" = "bytes $first-$last/$size" ] \
      || fail "$case: Content-Range '$(header "$case" Content-Range)', expected 'bytes $first-$last/$size'"
  fi
  if [ "$status" = 416 ]; then
    [ "$(header "$case" Content-Range)" = "bytes */$size" ] \
      || fail "$case: Content-Range '$(header "$case" Content-Range)', expected 'bytes */$size'"
  fi
done <<<"$static_cases"

# ---------------------------------------------------------------------------
# Publishing, step by step on one tree: each step's exit status and the
# package that the next update query names. A published package must unpack
# to the setup program alone, and the decoder must be served as given.
rm -rf "$docroot/pellucast_manager"
mkdir -p "$work/in"
head -c 5000 /dev/urandom >"$work/in/setup.exe"
head -c 3000 /dev/urandom >"$work/in/decoder.dll"

# name | setup | version | decoder (or -) | exit: ok or fail | package the query names afterwards
publish_cases='
first_package     | setup.exe  | 1.9.0       | decoder.dll  | ok   | manager-1.9.0.7z
newer_package     | setup.exe  | 1.10.0      | -            | ok   | manager-1.10.0.7z
older_package     | setup.exe  | 1.2.0       | -            | ok   | manager-1.10.0.7z
suffixed_version  | setup.exe  | 2.0-beta    | -            | fail | manager-1.10.0.7z
leading_zero      | setup.exe  | 2.01        | -            | fail | manager-1.10.0.7z
path_in_version   | setup.exe  | 2/../../x   | -            | fail | manager-1.10.0.7z
missing_setup     | nosuch.exe | 2.0         | -            | fail | manager-1.10.0.7z
missing_decoder   | setup.exe  | 2.0         | nosuch.dll   | fail | manager-1.10.0.7z
'
while IFS='|' read -r case setup version decoder outcome expected; do
  case=$(trim "$case") setup=$(trim "$setup") version=$(trim "$version") decoder=$(trim "$decoder")
  outcome=$(trim "$outcome") expected=$(trim "$expected")
  [ -z "$case" ] && continue
  args=("$work/in/$setup" "$version")
  [ "$decoder" != - ] && args+=("$work/in/$decoder")
  if PACKAGE_SERVER_ROOT=$docroot bash "$server/publish.sh" "${args[@]}" >"$work/publish.log" 2>&1; then
    result=ok
  else
    result=fail
  fi
  [ "$result" = "$outcome" ] || fail "$case: publish.sh ended '$result', expected '$outcome': $(cat "$work/publish.log")"
  status=$(fetch "$case" GET /pellucast_manager/packages/manager/get_highest_version.php)
  name=$(sed -n '3p' "$work/$case.body")
  [ "$status" = 200 ] && [ "$name" = "$expected" ] \
    || fail "$case: the update query names '$name' (status $status), expected $expected"
  [ "$outcome" = ok ] || continue
  status=$(fetch "$case.pkg" GET "/pellucast_manager/packages/manager/manager-$version.7z")
  if [ "$status" != 200 ]; then
    fail "$case: the new package is not served (status $status)"
  else
    7z l -ba -slt "$work/$case.pkg.body" 2>/dev/null | sed -n 's/^Path = //p' >"$work/entries"
    [ "$(cat "$work/entries")" = setup.exe ] || fail "$case: the package holds '$(tr '\n' ' ' <"$work/entries")', expected setup.exe alone"
    7z e -so "$work/$case.pkg.body" setup.exe 2>/dev/null | cmp -s - "$work/in/setup.exe" \
      || fail "$case: the package does not unpack to the setup program"
  fi
  if [ "$decoder" != - ]; then
    status=$(fetch "$case.dll" GET /pellucast_manager/packages/7zDecoder.dll)
    [ "$status" = 200 ] && cmp -s "$work/in/$decoder" "$work/$case.dll.body" \
      || fail "$case: the server does not serve the decoder library that was given (status $status)"
  fi
done <<<"$publish_cases"
leftovers=$(find "$packages" -name '.*')
[ -z "$leftovers" ] || fail "publish left temporary files: $leftovers"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; server log:" >&2
  grep -v -e ' Accepted$' -e ' Closing$' "$work/server.log" >&2
  exit 1
fi
echo "all package server checks passed"
