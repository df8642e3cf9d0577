#!/bin/sh
# Publishes a manager package on the package server's tree.
#   server/publish.sh SETUP_EXE VERSION [DECODER_DLL]
# Packs SETUP_EXE alone into manager-VERSION.7z in the manager folder and puts
# DECODER_DLL beside the packages as 7zDecoder.dll, so that the next update
# query names the new package if VERSION is the newest one published.
# The tree is $PACKAGE_SERVER_ROOT, else build/package-server in the source
# tree. Without DECODER_DLL the build's build/x86/decoder/7zDecoder.dll is
# used, else the one already published; publishing fails when there is none.
# VERSION is one to four dot-separated numbers without leading zeros.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
usage="usage: publish.sh SETUP_EXE VERSION [DECODER_DLL]"
fail() { echo "publish.sh: $*" >&2; exit 1; }

[ $# -ge 2 ] && [ $# -le 3 ] || { echo "$usage" >&2; exit 2; }
setup=$1
version=$2
root=${PACKAGE_SERVER_ROOT:-$here/../build/package-server}

[ -f "$setup" ] || fail "no setup program at $setup"
name=$(php "$here/packages.php" name "$version") \
  || fail "not a valid version: '$version' (one to four numbers such as 1.10.0, no leading zeros)"

if [ $# -eq 3 ]; then
  decoder=$3
  [ -f "$decoder" ] || fail "no decoder library at $decoder"
elif [ -f "$here/../build/x86/decoder/7zDecoder.dll" ]; then
  decoder=$here/../build/x86/decoder/7zDecoder.dll
elif [ -f "$root/pellucast_manager/packages/7zDecoder.dll" ]; then
  decoder=
else
  fail "no decoder library published yet; pass DECODER_DLL"
fi

mkdir -p "$root/pellucast_manager/packages/manager"
# Absolute, because 7z runs from the setup program's folder.
packages=$(cd "$root/pellucast_manager/packages" && pwd)
manager=$packages/manager
# Built under a hidden name and renamed into place, so a running server never
# names or serves a half-written package; hidden files are neither packages
# nor served.
tmp_package=$manager/.$name.$$.tmp
tmp_decoder=$packages/.7zDecoder.dll.$$.tmp
trap 'rm -f "$tmp_package" "$tmp_decoder"' EXIT
# The archive holds the setup program alone, at its top level: the installer
# runs the last file that unpacking reports.
setup_dir=$(cd "$(dirname "$setup")" && pwd)
(cd "$setup_dir" && 7z a -t7z -bso0 -bsp0 "$tmp_package" "./$(basename "$setup")") \
  || fail "7z could not pack $setup"
if [ -n "$decoder" ]; then
  cp "$decoder" "$tmp_decoder"
  mv -f "$tmp_decoder" "$packages/7zDecoder.dll"
fi
mv -f "$tmp_package" "$manager/$name"

newest=$(php "$here/packages.php" newest "$manager")
echo "published $manager/$name"
if [ "$newest" != "$name" ]; then
  echo "publish.sh: note: $newest is newer; the update query still names it" >&2
fi
