#!/usr/bin/env bash
# Makes the Windows zip from the build given and checks it as a user gets it: one folder named
# after the program and its version, holding the program (stripped, needing no DLL beyond
# Windows' own), README.txt with Windows line ends, and the document folder wwwroot.
set -euo pipefail
build="$(cd "$1" && pwd)"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

(cd "$build" && cpack -G ZIP -B "$work/out" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  fail "cpack could not make the zip"
}
zips=("$work"/out/trelubki-serwer-*-windows-x64.zip)
[ ${#zips[@]} -eq 1 ] && [ -f "${zips[0]}" ] || fail "no trelubki-serwer-<version>-windows-x64.zip: $(ls "$work/out")"
zip="${zips[0]}"
name="$(basename "$zip" .zip)"
version="${name#trelubki-serwer-}"
version="${version%-windows-x64}"
grep -q "project(trelubki-serwer VERSION $version " "$source_dir/CMakeLists.txt" || fail "zip name $name does not carry the project's version"

mkdir "$work/x"
(cd "$work/x" && cmake -E tar xf "$zip")
top="$work/x/$name"
for f in trelubki-serwer.exe README.txt wwwroot/index.html; do
  [ -f "$top/$f" ] || fail "$name/$f missing from the zip; it holds: $(cd "$work/x" && find . -type f | sort | tr '\n' ' ')"
done
cmp -s "$top/wwwroot/index.html" "$source_dir/packaging/www/index.html" || fail "wwwroot/index.html differs from packaging/www"
extra="$(cd "$top" && find . -type f ! -path ./trelubki-serwer.exe ! -path ./README.txt ! -path './wwwroot/*')"
[ -z "$extra" ] || fail "unexpected files in the zip: $extra"

# Notepad wants CR LF: every line ends so, none in LF alone.
readme="$top/README.txt"
lines=$(wc -l <"$readme")
crlf=$(grep -c $'\r$' "$readme" || true)
[ "$lines" -gt 20 ] && [ "$lines" -eq "$crlf" ] || fail "README.txt: $crlf of $lines lines end in CR LF"
for text in "$version" 8074 "TCP 80" Ctrl+C "Software\\Welkor\\Trelubki\\Serwer" wwwroot --help; do
  grep -qF -- "$text" "$readme" || fail "README.txt does not mention $text"
done
! grep -q '@[A-Z_]*@' "$readme" || fail "README.txt has an unreplaced variable"

exe="$top/trelubki-serwer.exe"
file_header="$("$objdump" -f "$exe")"
grep -q 'pei-x86-64' <<<"$file_header" || fail "the program is not a 64-bit Windows program: $file_header"
! "$objdump" -h "$exe" | grep -q '\.debug' || fail "the program in the zip is not stripped"
# Explorer's properties of the file: product name and the version of the zip's name.
resources="$(strings -el "$exe")"
grep -qx "Trelubki Serwer Zuli-Zuli" <<<"$resources" || fail "the program has no product name in its version information"
grep -qx "$version" <<<"$resources" || fail "the program's version information does not name version $version"
# Only Windows' own DLLs: a mingw runtime DLL (libstdc++-6, libgcc_s_seh-1, libwinpthread-1)
# would be missing on the user's machine.
dlls="$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)"
[ -n "$dlls" ] || fail "no DLL list read from the program"
while read -r dll; do
  case "$dll" in
  KERNEL32.DLL | USER32.DLL | WS2_32.DLL | ADVAPI32.DLL | SHELL32.DLL | MSVCRT.DLL | UCRTBASE.DLL | \
    API-MS-WIN-*.DLL | SHLWAPI.DLL | OLE32.DLL | MSWSOCK.DLL) ;;
  *) fail "the program needs $dll, which Windows does not have (link it statically)" ;;
  esac
done <<<"$dlls"
echo "zip: $(basename "$zip"), $(stat -c %s "$zip") bytes; program $(stat -c %s "$exe") bytes; DLLs: $(tr '\n' ' ' <<<"$dlls")"
