#!/bin/sh
# Builds every package into dist/: a .tar.gz for Linux, and for Windows x64
# and x86 a ZIP of the two programs and a ZIP of the stand-in.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
mkdir -p dist
for preset in linux windows-x64 windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  (cd "build/$preset" && cpack -B "$PWD/../../dist" >/dev/null)
done
rm -rf dist/_CPack_Packages
ls -l dist
