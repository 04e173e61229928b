#!/bin/sh
# Builds the Linux preset and prints the benchmark tables (about 2 minutes):
#   bench.sh [RUNS] [BIG_RUNS]
# RUNS (default 1000) runs of each edition and outcome, and RUNS/5 copies of
# a 4 KiB file; BIG_RUNS (default 5) copies of a 1 GiB file. The copies go
# to build/linux/bench-work, on the disk of the work tree.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux --target loadfile_bench >/dev/null
build/linux/bench/loadfile_bench build/linux build/linux/bench-work "${1:-1000}" "${2:-5}"
