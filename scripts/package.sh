#!/bin/sh
# Builds every package into dist/ (or OUT): a .tar.gz for Linux, and for
# Windows x64 and x86 a ZIP of the two programs and a ZIP of the stand-in,
# with SHA256SUMS beside them:
#   package.sh [OUT]
# The packages are reproducible (see scripts/archive.sh, which also tells how
# to sign the Windows files). OUT is replaced only when every package was
# made: a run that fails leaves it as it was.
set -eu
cd "$(dirname "$0")/.."
out=${1:-dist}
sh scripts/install-deps.sh
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
mkdir -p build
new=$(mktemp -d build/packages-XXXXXX)
trap 'rm -rf "$new"' EXIT
for preset in linux windows-x64 windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  sh scripts/archive.sh "build/$preset" "$new"
done
(cd "$new" && sha256sum -- *.tar.gz *.zip >SHA256SUMS)
rm -rf "$out"
mv "$new" "$out"
ls -l "$out"
