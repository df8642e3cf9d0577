#!/bin/sh
# Makes the decoder tests' archives with the 7z tool, natively, before the
# Windows tests run under Wine:
#   make_archives.sh OUT_DIR MATRIX_FILE PE_FILE
# OUT_DIR/src is the tree that goes into every archive; for each archive NAME
# there is NAME.7z and NAME.list, the tool's own listing of its entries in
# archive order ("F path" for a file, "D path" for a folder).
set -eu
mkdir -p "$1"
out="$(cd "$1" && pwd)"
matrix="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
pe="$(cd "$(dirname "$3")" && pwd)/$(basename "$3")"
rm -rf "${out:?}"/*
mkdir -p "$out/src"
cd "$out/src"

mkdir -p docs/nested/deeper empty-dir data bin "données 文件"
i=0
while [ $i -lt 400 ]; do echo "Line $i of the readme: unpack, check, report."; i=$((i + 1)); done > readme.txt
: > empty.txt
: > docs/nested/empty-too.txt
cat readme.txt readme.txt readme.txt > docs/guide.txt
printf 'deep\n' > docs/nested/deeper/note.txt
printf 'non-ASCII names reach the callback intact\n' > "données 文件/ünïcödé ☃.txt"
head -c 300000 /dev/urandom > data/random.bin
# More than one 2 MiB LZMA2 chunk, with incompressible stretches that the
# encoder stores as uncompressed chunks, and more than a 64 KiB dictionary.
for part in 1 2 3; do
  head -c 400000 /dev/urandom
  j=0
  while [ $j -lt 6 ]; do cat docs/guide.txt; j=$((j + 1)); done
done > data/mixed.bin
# Real x86 code, cut to a size that still spans many of the filters' buffers.
head -c 700000 "$pe" > bin/setup.exe

make_archive() {
  name="$1"; shift
  7z a -bd -y "$@" "$out/$name.7z" ./* >/dev/null
}

make_one() {
  make_archive "$@"
  7z l -slt "$out/$1.7z" | awk '
    /^----------$/ { body = 1; next }
    !body { next }
    /^Path = / { path = substr($0, 8) }
    /^Attributes = / { kind = (substr($0, 14, 1) == "D") ? "D" : "F"; print kind " " path }
  ' > "$out/$name.list"
}

grep -v '^#' "$matrix" | while read -r name switches; do
  [ -n "$name" ] || continue
  # The switches are words meant to split.
  # shellcheck disable=SC2086
  make_one "$name" $switches
done

# Small enough to damage byte by byte.
7z a -bd -y -mx9 "$out/small.7z" docs/nested readme.txt >/dev/null

# Archives that must be refused.
make_archive encrypted -pSECRET -mhc=off
make_archive encrypted-headers -pSECRET -mhe=on
make_archive ppmd -m0=PPMd
make_archive bzip2 -m0=BZip2
