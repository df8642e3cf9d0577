#!/bin/sh
# Unpacks an archive of about 100 MB (LZMA2, mixed compressible data) with
# 7zDecoder.dll under 64-bit Wine and with `7z x` natively, and prints both
# times, their ratio and the size of the shipped i686 DLL.
#   bench/decoder/run-bench.sh X64_BUILD_DIR [I686_BUILD_DIR]
# Both build folders must have decoder_bench / decoder_dll built. The Wine
# prefix and display default to the x64 build's bench-wineprefix and :95
# (BENCH_WINEPREFIX, BENCH_DISPLAY).
set -eu
x64="$(cd "$1" && pwd)"
x86="${2:-}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$x64/bench/decoder/work"
dll="$x64/decoder/7zDecoder.dll"
bench="$x64/bench/decoder/decoder_bench.exe"
[ -f "$dll" ] && [ -f "$bench" ] || { echo "build decoder_dll and decoder_bench in $x64 first" >&2; exit 2; }

rm -rf "$work"
mkdir -p "$work/src/text" "$work/src/random" "$work/src/encoded" "$work/src/bin"
cd "$work/src"
# Compressible text, incompressible bytes, base64 (partly compressible) and code.
i=0
while [ $i -lt 8 ]; do
  seq $((i * 130000)) $((i * 130000 + 130000)) | sed 's/$/ entries of a log line with some words/' > "text/log$i.txt"
  head -c 3000000 /dev/urandom > "random/blob$i.bin"
  head -c 3000000 /dev/urandom | base64 > "encoded/data$i.b64"
  i=$((i + 1))
done
cp "$bench" "$dll" bin/
du -sh "$work/src" | sed 's/^/data: /'
7z a -bd -y -m0=LZMA2 -mx5 "$work/bench.7z" ./* >/dev/null
ls -l "$work/bench.7z" | awk '{ print "archive bytes: " $5 }'

start=$(date +%s.%N)
7z x -bd -y -o"$work/by-7z" "$work/bench.7z" >/dev/null
end=$(date +%s.%N)
tool=$(echo "$end - $start" | bc)

mkdir -p "$work/by-dll"
cp "$work/bench.7z" "$work/by-dll/"
. "$root/scripts/wine-env.sh"
# Wine's start-up steps may answer nonzero; the display and server must still
# be stopped on every way out.
set +e
trap wine_env_stop EXIT
wine_env_start "${BENCH_WINEPREFIX:-$x64/bench-wineprefix}" "${BENCH_DISPLAY:-95}"
out=$("$root/scripts/wine-run" "$bench" "Z:$dll" "Z:$work/by-dll/bench.7z" | tr -d '\r')
wine_env_stop
trap - EXIT
set -e
echo "dll: $out"
ours=$(echo "$out" | awk '{ print $2 }')
rm "$work/by-dll/bench.7z"
diff -r "$work/by-7z" "$work/by-dll" >/dev/null && echo "unpacked trees identical" || echo "UNPACKED TREES DIFFER"

printf '7z x: %.2f s\n7zDecoder.dll (x86_64, Wine): %.2f s\nratio dll/7z: %.2f\n' \
  "$tool" "$ours" "$(echo "$ours / $tool" | bc -l)"
if [ -n "$x86" ] && [ -f "$x86/decoder/7zDecoder.dll" ]; then
  ls -l "$x86/decoder/7zDecoder.dll" | awk '{ print "i686 7zDecoder.dll bytes: " $5 }'
fi
rm -rf "$work"
