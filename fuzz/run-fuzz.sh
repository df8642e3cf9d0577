#!/bin/sh
# Builds the 7z archive reader natively with libFuzzer and the address and
# undefined-behaviour sanitizers, seeds it with small archives made by the 7z
# tool, and fuzzes for a bounded time. Exits nonzero when a crash was found.
#   fuzz/run-fuzz.sh [SECONDS] (default 60); FUZZ_BUILD_DIR sets the work folder.
set -eu
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
lzma="${LZMA_DECODER_SOURCE_DIR:-/usr/include/lzma}"
mkdir -p "$build/obj" "$build/seeds" "$build/corpus" "$build/artifacts"

# A smaller dictionary ceiling keeps each run fast; the code paths are the same.
flags="-g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
  -DDECODER_MAX_DICTIONARY=(64u*1024u*1024u) -I$root/decoder -I$lzma"
clang -c $flags -w "$lzma/LzmaDec.c" -o "$build/obj/LzmaDec.o"
clang++ -std=c++17 $flags "$root/fuzz/archive_fuzzer.cpp" "$root/decoder/archive_decoder.cpp" \
  "$root/decoder/folder_decoder.cpp" "$root/decoder/entry_name.cpp" "$root/decoder/crc32.cpp" \
  "$build/obj/LzmaDec.o" -o "$build/archive_fuzzer"

# Seeds: every method and header form the reader knows, kept tiny so that the
# fuzzer's mutations reach the headers and the coders alike.
src="$build/seed-files"
rm -rf "$src" "$build/seeds"/*
mkdir -p "$src/dir/sub" "$src/empty-dir"
printf 'hello, archive\n' > "$src/dir/a.txt"
: > "$src/dir/empty.txt"
i=0
while [ $i -lt 64 ]; do printf 'call \350\020\000\000\000 jump \351\040\000\000\000 %d\n' $i; i=$((i + 1)); done > "$src/dir/sub/code.exe"
head -c 3000 /dev/urandom > "$src/dir/sub/random.bin"
seed() {
  name="$1"; shift
  (cd "$src" && 7z a -bd -y "$@" "$build/seeds/$name.7z" dir empty-dir >/dev/null)
}
seed copy -m0=Copy -mhc=off
seed lzma -m0=LZMA -mhc=off
seed lzma2 -m0=LZMA2 -mx9
seed lzma2-nosolid -m0=LZMA2 -ms=off -mhc=off
seed bcj -mf=BCJ -m0=LZMA2 -mhc=off
seed bcj2 -mf=BCJ2 -mhc=off
seed store-encoded -mx0
seed encrypted -pSECRET -mhc=off

"$build/archive_fuzzer" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
  "$build/corpus" "$build/seeds"
