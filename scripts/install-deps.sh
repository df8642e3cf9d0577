#!/bin/sh
# Installs every Debian package that building, testing and the demo need.
set -e
packages="cmake g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
binutils-mingw-w64-x86-64 wine wine64 xvfb xauth x11-utils openbox imagemagick
p7zip-full lzma-dev googletest php-cli clang libclang-rt-14-dev nginx-light xdotool qemu-user-static"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends $missing
