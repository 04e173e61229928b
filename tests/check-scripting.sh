#!/bin/sh
# Runs the README's scripting examples with the real named-user program and
# the stand-in, and checks what they report:
#   check-scripting.sh README BUILD_FOLDER sh             the sh blocks
#   check-scripting.sh README BUILD_FOLDER cmd x64|x86    the cmd blocks, under
#                                                         Wine ($WINEPREFIX)
# In each language the first block installs a.dat, the second every .prc
# file. They run in a folder that holds a.dat, a.prc and b.prc, with a store
# that already holds a folder named b.prc for Ann, so that b.prc cannot be
# staged; then without a.dat; then without the install library, when the
# program cannot start.
set -u
readme=$1
build=$2
language=$3
arch=${4:-}
# The README tags the cmd blocks "bat".
tag=$([ "$language" = sh ] && echo sh || echo bat)
wine=$(dirname "$0")/../cmake/wine.sh
failures=0
checks=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The Nth fenced block tagged TAG in the README's scripting section.
block() {
  awk -v tag="$1" -v n="$2" '
    /^## / { inside = ($0 ~ /^## Scripting/) }
    !inside { next }
    /^```/ { if (open) { open = 0 } else { open = 1; lang = substr($0, 4); if (lang == tag) count++ } next }
    open && lang == tag && count == n { print }' "$readme"
}

windows_path() {
  # shellcheck disable=SC1003  # tr reads '\\' as one backslash; no quote is escaped
  printf 'Z:%s' "$1" | tr / '\\'
}

# Runs block N in SCENARIO ("all there", "no a.dat", "no library") and
# prints what it printed, without carriage returns.
run() {
  if [ "$language" = sh ]; then
    lay_out "$2"
    block "$tag" "$1" >"$work/block.sh"
    (cd "$work/here" && PATH="$work/bin:$PATH" XDG_DATA_HOME="$work/store" sh "$work/block.sh" 2>/dev/null)
    return
  fi
  # Nothing in the blocks writes to standard error, but cmd does when Wine
  # refuses to start a program (now and then on a busy machine): such a run
  # says nothing of the block, and it runs again from a new layout.
  for try in 1 2 3 4 5; do
    lay_out "$2"
    block "$tag" "$1" | sed 's/$/\r/' >"$work/block.cmd"
    printf '@set PATH=%s;%%PATH%%\r\n@set LOCALAPPDATA=%s\r\n@cd /d %s\r\n@call %s\r\n' \
      "$(windows_path "$work/bin")" "$(windows_path "$work/store")" \
      "$(windows_path "$work/here")" "$(windows_path "$work/block.cmd")" >"$work/run.cmd"
    sh "$wine" run "$arch" cmd.exe /q /c "$(windows_path "$work/run.cmd")" \
      2>"$work/stderr" </dev/null | tr -d '\r' >"$work/stdout"
    [ -s "$work/stderr" ] || break
    echo "cmd block $1, $2: try $try could not start a program: $(tr -d '\r' <"$work/stderr")" >&2
    sleep 1
  done
  cat "$work/stdout"
}

# The folders of a run: here/ with the files, bin/ with the program (and,
# unless SCENARIO is "no library", the install library), store/.
lay_out() {
  rm -rf "${work:?}/here" "${work:?}/store" "${work:?}/bin"
  mkdir -p "$work/here" "$work/store/pkgstage/Ann/b.prc" "$work/bin"
  [ "$1" = "no a.dat" ] || echo a >"$work/here/a.dat"
  echo a >"$work/here/a.prc"
  echo b >"$work/here/b.prc"
  if [ "$language" = sh ]; then
    cp "$build/named-user/loadfile" "$work/bin/"
    [ "$1" = "no library" ] || cp "$build/named-user/libpkgstage.so" "$work/bin/"
  else
    cp "$build/named-user/loadfile.exe" "$work/bin/"
    [ "$1" = "no library" ] || cp "$build/named-user/PKGSTAGE.dll" "$work/bin/"
  fi
}

# expect N SCENARIO LINE...: block N prints each LINE given as "+text" and
# none given as "-text".
expect() {
  n=$1
  scenario=$2
  shift 2
  out=$(run "$n" "$scenario")
  [ -n "$(block "$tag" "$n")" ] || {
    echo "FAIL: the README has no $language block $n"
    failures=$((failures + 1))
    return
  }
  for line; do
    checks=$((checks + 1))
    if printf '%s\n' "$out" | grep -qxF -- "${line#?}"; then found=+; else found=-; fi
    if [ "$found" != "$(printf '%s' "$line" | cut -c1)" ]; then
      echo "FAIL: $language block $n, $scenario: '${line#?}' $([ "$found" = + ] && echo printed || echo missing); it printed:"
      printf '%s\n' "$out" | sed 's/^/  | /'
      failures=$((failures + 1))
    fi
  done
}

if [ "$language" = sh ]; then
  expect 1 "all there" "+installed"
  expect 1 "no a.dat" "-installed"
  expect 1 "no library" "-installed"
else
  expect 1 "all there" "+installed" "-not installed"
  expect 1 "no a.dat" "+not installed" "-installed"
  expect 1 "no library" "+not installed" "-installed"
fi
expect 2 "all there" "+failed: b.prc" "-failed: a.prc"
expect 2 "no library" "+failed: a.prc" "+failed: b.prc"

echo "scripting ($language): $((checks - failures)) of $checks checks passed"
[ "$failures" = 0 ]
