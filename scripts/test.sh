#!/bin/sh
# Runs every test: installs what is missing, then builds and tests the Linux,
# Windows x64 and Windows x86 presets in turn. Stops at the first failure.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
for preset in linux windows-x64 windows-x86; do
  echo "== $preset"
  cmake --workflow --preset "$preset"
done
echo "== all presets passed"
