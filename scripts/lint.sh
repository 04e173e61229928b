#!/bin/sh
# Static checks of the project's own sources; fails on any finding.
#   ShellCheck     every shell script, and the README's sh blocks
#   clang-format   every C++ file is formatted as .clang-format says
#   clang-tidy-19  the tool, its platform side, the stand-in and the registry
#                  store, as .clang-tidy says, from the compile commands of
#                  the linux and windows builds (run their workflows first)
#   cppcheck       the same sources, both platforms' sides
set -eu
cd "$(dirname "$0")/.."

echo "== shellcheck"
# The scripts are found by their #! line; the README's blocks are what
# readers copy into scripts of their own.
# shellcheck disable=SC2046  # one word a file
shellcheck $(git grep -lI -E '^#!(/usr)?/bin/(env )?(ba)?sh')
awk '/^```sh$/ { open = 1; next } /^```/ { open = 0 } open' README.md | shellcheck -s sh -

echo "== clang-format"
# shellcheck disable=SC2046  # one word a file
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h')

# Each platform's side: the files named for it, and the stand-ins' shared
# code beside the tool's.
shared="src/*.cpp standins/pkgstage/pkgstage.cpp standins/pkgstage/names.cpp"
posix="platform/*-posix.cpp standins/*/*-posix.cpp"
win32="platform/*-win32.cpp standins/*/*-win32.cpp"

echo "== clang-tidy"
# One file a run, two runs at a time: most of the time goes to parsing
# windows.h once for every Windows file.
{
  for file in $shared $posix; do
    echo "build/linux $file"
  done
  for file in $shared $win32; do
    echo "build/windows-x64 $file"
  done
  echo "build/windows-x86 platform/install-x86.cpp"
} | xargs -P 2 -L 1 clang-tidy-19 --quiet -p

echo "== cppcheck"
for platform in posix win32; do
  if [ "$platform" = posix ]; then
    extra=$posix
    define=-D__linux__
  else
    extra="$win32 platform/install-x86.cpp"
    define=-D_WIN32
  fi
  # cppcheck 2.17 (Debian 13) reports, as a finding, that it limits its
  # analysis of branches at its normal level.
  # shellcheck disable=SC2086  # one word a file
  cppcheck --quiet --error-exitcode=1 --inline-suppr --std=c++17 --language=c++ \
    --enable=warning,style,performance,portability --suppress=missingIncludeSystem \
    --suppress=normalCheckLevelMaxBranches -I src -I platform -I standins -I standins/pkgstage \
    -I standins/registry $define $shared $extra
done
echo "== lint passed"
