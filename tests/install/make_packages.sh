#!/bin/sh
# Makes the 7z packages that the pipeline tests serve and unpack, with the
# ordinary 7z tool: make_packages.sh SETUP_PROGRAM LIBRARY OUTPUT_FOLDER
set -eu
setup=$1
library=$2
out=$3
rm -rf "$out"
mkdir -p "$out/work"
cd "$out/work"

# The package a vendor publishes: the setup program alone.
cp "$setup" setup.exe
7z a -bd -mx9 ../manager-1.0.7z setup.exe >/dev/null

# Several files, the setup last: the decoder reports it last.
mkdir -p docs
echo "read me" > docs/readme.txt
printf '' > empty.txt
7z a -bd -mx5 ../several.7z docs/readme.txt empty.txt setup.exe >/dev/null
[ "$(7z l -slt ../several.7z | sed -n 's/^Path = //p' | tail -n 1)" = setup.exe ]

# The setup is a library, not a program: it can't be started.
mkdir -p broken
cp "$library" broken/setup.exe
(cd broken && 7z a -bd ../../not-a-program.7z setup.exe >/dev/null)

# Only a folder: the decoder succeeds without reporting a file.
mkdir -p only-folder
7z a -bd ../folder-only.7z only-folder >/dev/null

# Cut short: the decoder fails.
head -c 300 ../manager-1.0.7z > ../truncated.7z

cd ..
rm -rf work
