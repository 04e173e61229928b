#!/bin/sh
# The release as a user gets it, from the package command over the builds
# the test command made (run it after every preset):
#   - SHA256SUMS checks every package;
#   - signed with a throwaway key, every .exe and .dll verifies against its
#     certificate, and a signed program runs;
#   - with a wrong password or no key file, the command stops with a one-line
#     reason, makes no package and leaves the output folder as it was; the
#     password appears nowhere in what it printed.
# Ends with "release: N passed, M failed".
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d /tmp/loadfile-release-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0

check() {
  what=$1
  shift
  if "$@" >"$scratch/check.log" 2>&1; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
    sed 's/^/  /' "$scratch/check.log"
  fi
}

# A throwaway code-signing key and certificate.
password=throwaway-$$-secret
printf '%s' "$password" >"$scratch/password"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=loadfile test" -days 2 \
  -addext "extendedKeyUsage=codeSigning" -keyout "$scratch/key.pem" -out "$scratch/cert.pem" \
  >/dev/null 2>&1
openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" \
  -passout "file:$scratch/password" -out "$scratch/key.p12" >/dev/null 2>&1
printf 'not the password' >"$scratch/wrong"

package() {
  out=$1
  shift
  env "$@" sh "$here/scripts/package.sh" "$out" >"$scratch/package.log" 2>&1
}

signed_files_verify() {
  mkdir -p "$scratch/unpacked"
  count=0
  for zip in "$scratch/signed"/*.zip; do
    folder=$scratch/unpacked/$(basename "$zip" .zip)
    mkdir -p "$folder"
    (cd "$folder" && cmake -E tar xf "$zip") || return 1
    find "$folder" -name '*.exe' -o -name '*.dll' >"$scratch/programs"
    while IFS= read -r file; do
      osslsigncode verify -CAfile "$scratch/cert.pem" -in "$file" || return 1
      count=$((count + 1))
    done <"$scratch/programs"
  done
  echo "$count files verified"
  # Two programs and a stand-in in each of two folders, for two platforms.
  [ "$count" = 8 ]
}

signed_program_runs() {
  set -- "$scratch"/unpacked/loadfile-*-windows-x64
  folder=$1
  cp "$folder-standin/named-user/PKGSTAGE.dll" "$folder/named-user/"
  WINEPREFIX=$here/build/windows-x64/wine WINEDEBUG=-all
  export WINEPREFIX WINEDEBUG
  sh "$here/cmake/wine.sh" start x64
  out=$(cd "$folder" && sh "$here/cmake/wine.sh" run x64 named-user/loadfile.exe)
  status=$?
  sh "$here/cmake/wine.sh" stop
  printf '%s\n' "$out"
  [ "$status" = 0 ] && [ "$out" = "$(printf 'usage: loadfile <file> <user> \r')" ]
}

refused() {
  mkdir -p "$scratch/kept" && echo "an earlier release" >"$scratch/kept/SHA256SUMS"
  if package "$scratch/kept" LOADFILE_SIGN_PKCS12="$1" LOADFILE_SIGN_PASSWORD_FILE="$2"; then
    echo "the package command succeeded"
    return 1
  fi
  cat "$scratch/package.log"
  lines=$(grep -c 'cannot sign' "$scratch/package.log")
  [ "$lines" = 1 ] || return 1
  ! grep -q "$password" "$scratch/package.log" || return 1
  [ "$(ls "$scratch/kept")" = SHA256SUMS ] && [ "$(cat "$scratch/kept/SHA256SUMS")" = "an earlier release" ]
}

check "the package command makes every package" package "$scratch/plain"
check "SHA256SUMS checks every package" sh -c "cd '$scratch/plain' && sha256sum -c SHA256SUMS && [ \$(wc -l <SHA256SUMS) = 5 ]"
check "the package command signs with a key" package "$scratch/signed" \
  LOADFILE_SIGN_PKCS12="$scratch/key.p12" LOADFILE_SIGN_PASSWORD_FILE="$scratch/password"
check "the password is not in what it printed" sh -c "! grep -q '$password' '$scratch/package.log'"
check "every .exe and .dll verifies" signed_files_verify
check "a signed program runs" signed_program_runs
check "the Linux package is the same signed or not" cmp "$scratch/plain/"*.tar.gz "$scratch/signed/"*.tar.gz
check "a wrong password stops it" refused "$scratch/key.p12" "$scratch/wrong"
check "a missing key stops it" refused "$scratch/missing.p12" "$scratch/password"

echo "release: $passed passed, $failed failed"
[ "$failed" = 0 ]
