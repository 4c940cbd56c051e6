#!/usr/bin/env bash
# Makes the packages of the build with CPack and checks them as a packager would: the server
# package (headless program, unit, document folder) names no Qt library among its dependencies;
# the desktop package (window program, desktop entry, icon) does; the two share no file, so they
# install side by side. Each has its copyright file, its changelog (of its own version) and its
# manual page, which man reads without a warning; lintian finds no error and no warning in
# either (its informational tags are printed), hardening included; the server package's
# maintainer scripts are run in a safe mode (check_maintainer_scripts.sh). Prints each package's
# name, size and dependencies.
#   check_packages.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$out" && cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1) \
  || { cat "$out/cpack.log"; exit 1; }

server=$(ls "$out"/trelubki-serwer_*.deb)
field() { dpkg-deb -f "$1" "$2"; }
show() {
  echo "$(field "$1" Package) $(field "$1" Version) $(stat -c %s "$1") bytes, installed $(field "$1" Installed-Size) KiB"
  echo "  Depends: $(field "$1" Depends)"
}
show "$server"
[ "$(field "$server" Package)" = trelubki-serwer ] || { echo "server package misnamed"; exit 1; }
echo "$(field "$server" Depends)" | grep -qi "qt" && { echo "the server package depends on Qt"; exit 1; }
echo "$(field "$server" Depends)" | grep -q "libc6" || { echo "the server package lists no libc6"; exit 1; }
files=$(dpkg-deb -c "$server" | awk '{print $6}')
for f in ./usr/bin/trelubki-serwer ./usr/lib/systemd/system/trelubki-serwer.service \
         ./usr/share/trelubki-serwer/www/index.html; do
  echo "$files" | grep -qx "$f" || { echo "server package lacks $f"; exit 1; }
done

root=$out/root
dpkg-deb -x "$server" "$root"
grep -qx "ExecStart=/usr/bin/trelubki-serwer --headless --doc-dir /usr/share/trelubki-serwer/www \$TRELUBKI_SERWER_OPTS" \
  "$root/usr/lib/systemd/system/trelubki-serwer.service" || { echo "the packaged unit names other paths"; exit 1; }

if [ -e "$build/trelubki-serwer-headless" ]; then
  desktop=$(ls "$out"/trelubki-serwer-desktop_*.deb)
  show "$desktop"
  echo "$(field "$desktop" Depends)" | grep -q "libqt6widgets6" || { echo "the desktop package lacks Qt Widgets"; exit 1; }
  dfiles=$(dpkg-deb -c "$desktop" | awk '{print $6}')
  for f in ./usr/bin/trelubki-serwer-desktop ./usr/share/applications/trelubki-serwer-desktop.desktop \
           ./usr/share/icons/hicolor/256x256/apps/trelubki-serwer.png; do
    echo "$dfiles" | grep -qx "$f" || { echo "desktop package lacks $f"; exit 1; }
  done
  common=$(comm -12 <(echo "$files" | grep -v '/$' | sort) <(echo "$dfiles" | grep -v '/$' | sort))
  [ -z "$common" ] || { echo "both packages hold: $common"; exit 1; }
  dpkg-deb -x "$desktop" "$root"  # side by side in one root
  [ -x "$root/usr/bin/trelubki-serwer" ] && [ -x "$root/usr/bin/trelubki-serwer-desktop" ] \
    || { echo "the two programs do not stand side by side"; exit 1; }
fi
# What Debian users expect of any package.
docs_of() {  # docs_of DEB PACKAGE MANPAGE
  local root=$out/docs-$2
  dpkg-deb -x "$1" "$root"
  for f in "usr/share/doc/$2/copyright" "usr/share/doc/$2/changelog.gz" "usr/share/man/man1/$3.1.gz"; do
    [ -s "$root/$f" ] || { echo "$2 lacks $f"; exit 1; }
  done
  head -1 "$root/usr/share/doc/$2/copyright" | grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
    || { echo "$2: the copyright file is not machine-readable"; exit 1; }
  top=$(zcat "$root/usr/share/doc/$2/changelog.gz" | head -1)
  [[ "$top" == "trelubki-serwer ($(field "$1" Version)) "* ]] || { echo "$2: changelog starts '$top'"; exit 1; }
  for tool in man lintian; do
    command -v $tool >/dev/null || { echo "$tool is needed (Debian: man-db, lintian; tools/setup.sh installs them)"; exit 1; }
  done
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$3.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "man finds faults in $3(1): $warnings"; exit 1; }
  # Informational tags are printed (each is explained where the packages are made).
  tags=$(lintian --no-cfg -I "$1" 2>&1 | grep -v "running with root privileges" || true)
  [ -z "$tags" ] || while IFS= read -r tag; do echo "  lintian: $tag"; done <<< "$tags"
  if echo "$tags" | grep -qE "^[EW]: |hardening"; then echo "lintian: errors, warnings or missing hardening in $2"; exit 1; fi
}
docs_of "$server" trelubki-serwer trelubki-serwer
mkdir "$out/control"
dpkg-deb -e "$server" "$out/control"
"$(dirname "$0")/check_maintainer_scripts.sh" "$out/control"
[ -e "$root/etc/default/trelubki-serwer" ] || { echo "the server package lacks /etc/default/trelubki-serwer"; exit 1; }
if [ -n "${desktop:-}" ]; then
  docs_of "$desktop" trelubki-serwer-desktop trelubki-serwer-desktop
fi
echo "packages are in order"
