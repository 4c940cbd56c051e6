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
# The resources: the icon, the manifest (common controls 6, per-monitor DPI awareness, the
# Windows versions it is written for) and the version information the program reads of itself.
windres="${WINDRES:-x86_64-w64-mingw32-windres}"
listed="$("$windres" -i "$exe" -O rc 2>/dev/null | grep -E '^[0-9A-Za-z_]+ ([0-9]+ |VERSIONINFO)' || true)"
for kind in "14 /\* RT_GROUP_ICON" "3 /\* RT_ICON" "24 /\* RT_MANIFEST" "VERSIONINFO"; do
  grep -qE "^1 $kind" <<<"$listed" || fail "the program has no resource $kind (it has: $(tr '\n' ' ' <<<"$listed"))"
done
# The icon in its sizes (16 to 256 pixels): the title bar, the taskbar and Explorer each take the
# size they show rather than a shrunk large one.
icons=$(grep -cE '^[0-9]+ 3 /\* RT_ICON' <<<"$listed" || true)
[ "$icons" -ge 8 ] || fail "the program's icon has $icons sizes; it should have 8 (16 to 256 pixels)"
manifest="$(strings -a "$exe" | sed -n '/<assembly /,/<\/assembly>/p')"
grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest" ||
  fail "the manifest does not ask for the common controls of version 6"
grep -q '>PerMonitorV2' <<<"$manifest" || fail "the manifest does not declare per-monitor DPI awareness (v2)"
grep -q '>true/pm<' <<<"$manifest" || fail "the manifest does not declare per-monitor DPI awareness for Windows 8.1"
for os in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
  1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  grep -q "supportedOS Id=\"{$os}\"" <<<"$manifest" || fail "the manifest does not name the Windows version $os"
done
grep -qx "http://www.welkor.pl/trelubki-serwer" <<<"$resources" || fail "the version information has no product web address"
# The oldest Windows it runs on: the PE header and README.txt name the same one, Windows 7 (6.1).
headers="$("$objdump" -p "$exe")"
for field in MajorOSystemVersion MajorSubsystemVersion; do
  grep -qE "^$field\s+6$" <<<"$headers" || fail "PE header: $field is not 6: $(grep "^$field" <<<"$headers")"
done
for field in MinorOSystemVersion MinorSubsystemVersion; do
  grep -qE "^$field\s+1$" <<<"$headers" || fail "PE header: $field is not 1: $(grep "^$field" <<<"$headers")"
done
grep -q "Windows 7 or later" "$readme" || fail "README.txt does not name the oldest Windows the program runs on"

# Only Windows' own DLLs: a mingw runtime DLL (libstdc++-6, libgcc_s_seh-1, libwinpthread-1)
# would be missing on the user's machine.
dlls="$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)"
[ -n "$dlls" ] || fail "no DLL list read from the program"
while read -r dll; do
  case "$dll" in
  KERNEL32.DLL | USER32.DLL | WS2_32.DLL | ADVAPI32.DLL | SHELL32.DLL | MSVCRT.DLL | UCRTBASE.DLL | \
    API-MS-WIN-*.DLL | SHLWAPI.DLL | OLE32.DLL | MSWSOCK.DLL) ;;
  VERSION.DLL) ;; # the program's version information
  *) fail "the program needs $dll, which Windows does not have (link it statically)" ;;
  esac
done <<<"$dlls"
echo "zip: $(basename "$zip"), $(stat -c %s "$zip") bytes; program $(stat -c %s "$exe") bytes; DLLs: $(tr '\n' ' ' <<<"$dlls")"
