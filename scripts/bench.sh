#!/bin/sh
# Builds the Linux preset and prints the benchmark tables, timed by
# hyperfine (about a minute and a half):
#   bench.sh [RUNS] [BIG_RUNS] [ROUNDS]
# RUNS (default 1000) runs of each edition and outcome, and RUNS/5 copies of
# a 4 KiB file; BIG_RUNS (default 5) copies of a 1 GiB file; all of them
# split into ROUNDS (default 5) rounds. The copies go to build/linux/bench-work,
# on the disk of the work tree.
#
# hyperfine times one command's runs together, so a machine that slows down
# for a while would slow one command alone. Each round therefore times every
# command of a table in turn, in the opposite order to the round before, and
# a figure is the median over the rounds of each round's median; a ratio is
# the median of the ratios within each round.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh bench
cmake --preset linux >/dev/null
cmake --build --preset linux --target loadfile_named loadfile_last bench_floor >/dev/null
runs=${1:-1000}
big_runs=${2:-5}
rounds=${3:-5}
work=$PWD/build/linux/bench-work
rm -rf "$work"
mkdir -p "$work/times"
# Commands are given to hyperfine without a shell (-N), by paths relative to
# the work folder, which it splits at blanks.
cd "$work"
printf abc >a.dat

# The last user's settings of each last-user case, written once here: a
# value rewritten just before a run makes the file system flush it while
# the run is timed.
settings() {
  preferences="$work/$1/registry/HKEY_CURRENT_USER/Software/Corvallex/Tandril Desktop/Preferences"
  mkdir -p "$preferences"
  [ -z "$2" ] || printf '%s\0' "$2" >"$preferences/LastUserName"
}
settings config-ann Ann
settings config-bad ..
settings config-none ""
settings config-lee Lee
named=../named-user/loadfile
last=../last-user/loadfile
XDG_DATA_HOME=$work/data
export XDG_DATA_HOME
# Ann has a.dat already; the "installed" cases stage it anew each run, their
# user's folder removed before it.
XDG_CONFIG_HOME=$work/config-ann $named a.dat Ann >/dev/null || true

# Times one command of a table for one round:
#   measure TABLE ROUND CASE RUNS WARMUP STATUS SETTINGS COMMAND [PREPARE]
# In the first round, one run (after PREPARE) must exit with STATUS first:
# hyperfine is told to ignore the status, which is 1 on success. COMMAND and
# PREPARE are split as hyperfine splits them, quotes honoured.
measure() {
  export XDG_CONFIG_HOME="$work/$7"
  status=$6
  if [ "$2" = 1 ]; then
    [ -z "${9:-}" ] || eval "$9"
    eval "$8" >/dev/null 2>&1 && status=0 || status=$?
  fi
  if [ "$status" != "$6" ]; then
    echo "bench.sh: $8 exited $status, not $6" >&2
    exit 1
  fi
  csv=times/$1-$2-$3.csv
  if ! hyperfine -N -i --style none -r "$4" -w "$5" ${9:+--prepare "$9"} -n "case" \
    --export-csv "$csv" "$8" 2>times/errors; then
    cat times/errors >&2
    exit 1
  fi
  # The CSV's fourth column is the median, in seconds.
  awk -F, -v table="$1" -v round="$2" -v row="$3" \
    'NR == 2 { print table, round, row, $4 }' "$csv" >>times/medians
}

# Each table's rows, one a line: name|status|settings|command|prepare.
rows() {
  case $1 in
  runs)
    cat <<EOF
/bin/true|0|config-ann|/bin/true|
floor: a C program that binds a one-function library and prints a line|0|config-ann|../bench/bench_floor|
named-user: usage|0|config-ann|$named|
named-user: not found|0|config-ann|$named missing.dat Ann|
named-user: already installed|1|config-ann|$named a.dat Ann|
named-user: error (bad user)|0|config-ann|$named a.dat ../x|
named-user: installed (copies)|1|config-ann|$named a.dat Nan|rm -rf data/pkgstage/Nan
last-user: usage|0|config-ann|$last|
last-user: not found|0|config-ann|$last missing.dat|
last-user: no last user|0|config-none|$last a.dat|
last-user: already installed|1|config-ann|$last a.dat|
last-user: error (bad user)|0|config-bad|$last a.dat|
last-user: installed (copies)|1|config-lee|$last a.dat|rm -rf data/pkgstage/Lee
EOF
    ;;
  *)
    cat <<EOF
$size: cp|0|config-ann|cp source copy|rm -f copy
$size: cp, then sync of the copy|0|config-ann|sh -c 'cp source copy && sync copy'|rm -f copy
$size: loadfile with the stand-in|1|config-ann|$named source Bob|rm -f data/pkgstage/Bob/source
EOF
    ;;
  esac
}

# Times every row of TABLE, RUNS runs each over the rounds, WARMUP warm-up
# runs a round.
time_table() {
  per=$(($2 / rounds))
  [ "$per" -gt 0 ] || per=1
  rows "$1" >times/rows
  lines=$(wc -l <times/rows)
  round=1
  while [ "$round" -le "$rounds" ]; do
    row=1
    while [ "$row" -le "$lines" ]; do
      at=$row
      [ $((round % 2)) = 1 ] || at=$((lines + 1 - row))
      IFS='|' read -r _ status config command prepare <<EOF
$(sed -n "${at}p" times/rows)
EOF
      measure "$1" "$round" "$at" "$per" "$3" "$status" "$config" "$command" "$prepare"
      row=$((row + 1))
    done
    round=$((round + 1))
  done
}

# Prints TABLE's rows: the median over the rounds of each round's median,
# and of the ratios to the rows BASE and OTHER (numbers) within each round.
# The seventh column, where given, is the row's peak memory.
report() {
  awk -F'|' -v table="$1" -v base="$2" -v other="$3" -v unit="$4" -v runs="$5" '
    function median(list, n,   i, j, t) {
      for (i = 2; i <= n; i++)
        for (j = i; j > 1 && list[j - 1] > list[j]; j--) { t = list[j]; list[j] = list[j - 1]; list[j - 1] = t }
      return n % 2 ? list[(n + 1) / 2] : (list[n / 2] + list[n / 2 + 1]) / 2
    }
    FILENAME == "times/medians" { split($0, f, " "); if (f[1] == table) { t[f[3], f[2]] = f[4]; if (f[2] > n) n = f[2] } next }
    FILENAME == "times/peaks" { split($0, f, " "); peak[f[1]] = f[2]; next }
    {
      for (r = 1; r <= n; r++) {
        a[r] = t[FNR, r]; b[r] = t[FNR, r] / t[base, r]; c[r] = t[FNR, r] / t[other, r]
      }
      m = median(a, n)
      if (unit == "us") printf "| %s | %.0f us | %.2f | %.2f |\n", $1, m * 1e6, median(b, n), median(c, n)
      else printf "| %s | %s | %.3f ms | %.2f | %.2f | %s KiB |\n", $1, runs, m * 1e3, median(b, n), median(c, n), peak[FNR]
    }' times/medians times/peaks times/rows
}
: >times/medians
: >times/peaks

time_table runs "$runs" 10
echo "| Run ($runs runs each, in $rounds rounds) | median | / \`/bin/true\` | / floor |"
echo "|---|---|---|---|"
report runs 1 2 us "$runs"

echo
echo "| Copy (in $rounds rounds) | runs | median | / \`cp\` | / \`cp\` + sync | peak memory |"
echo "|---|---|---|---|---|---|"
for size in "4 KiB" "1 GiB"; do
  if [ "$size" = "4 KiB" ]; then
    table=small bytes=4096 count=$((runs / 5)) warmup=5
  else
    table=big bytes=1073741824 count=$big_runs warmup=0
  fi
  head -c "$bytes" /dev/urandom >source
  time_table "$table" "$count" "$warmup"
  # Peak memory, from GNU time: one more run of each row, after its prepare.
  : >times/peaks
  row=1
  while IFS='|' read -r _ _ _ command prepare; do
    [ -z "$prepare" ] || eval "$prepare"
    eval "/usr/bin/time -f %M -o times/peak $command" >/dev/null 2>&1 || true
    # GNU time puts a line about a non-zero status first.
    echo "$row $(tail -n 1 times/peak)" >>times/peaks
    row=$((row + 1))
  done <times/rows
  report "$table" 1 2 ms "$count"
  rm -f source copy
done
cd ..
rm -rf "$work"
