#!/usr/bin/env bash
# Runs the server package's maintainer scripts, as they ship in the package, through install,
# upgrade, removal and purge in a safe mode: DPKG_ROOT names a scratch root (so nothing of the
# running system is touched, and systemctl is never called), and deb-systemd-helper and
# deb-systemd-invoke are stand-ins that record how they are called. shellcheck checks them too
# where it is installed.
#   check_maintainer_scripts.sh CONTROL_DIR   (the package's control files: dpkg-deb -e)
set -euo pipefail
control=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for s in postinst prerm postrm; do
  [ -x "$control/$s" ] || { echo "the package has no executable $s"; exit 1; }
done
grep -qx /etc/default/trelubki-serwer "$control/conffiles" || { echo "conffiles lacks /etc/default/trelubki-serwer"; exit 1; }
if command -v shellcheck >/dev/null; then
  shellcheck "$control/postinst" "$control/prerm" "$control/postrm"
fi

mkdir -p "$work/bin" "$work/root"
# The stand-ins answer "was-enabled" as WAS_ENABLED says (an administrator enabled the service).
for tool in deb-systemd-helper deb-systemd-invoke systemctl; do
  # shellcheck disable=SC2016  # the stand-in expands its own arguments
  printf '#!/bin/sh\necho "%s $*" >> "%s/calls"\n[ "$2" != was-enabled ] || [ "${WAS_ENABLED:-0}" = 1 ]\n' \
    "$tool" "$work" > "$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done
run() {  # run SCRIPT ARGS...: must succeed
  DPKG_ROOT=$work/root PATH="$work/bin:$PATH" WAS_ENABLED=${WAS_ENABLED:-0} sh -e "$control/$1" "${@:2}" \
    || { echo "$1 $* failed"; exit 1; }
}
calls() { cat "$work/calls" 2>/dev/null; rm -f "$work/calls"; }
expect() {  # expect WHAT EXPECTED_CALLS
  got=$(calls)
  [ "$got" = "$2" ] || { printf '%s: expected calls\n%s\ngot\n%s\n' "$1" "$2" "$got"; exit 1; }
}

unit=trelubki-serwer.service
run postinst configure
expect "install" "deb-systemd-helper unmask $unit
deb-systemd-helper --quiet was-enabled $unit
deb-systemd-helper update-state $unit"
WAS_ENABLED=1 run postinst configure 0.9
expect "upgrade of an enabled service" "deb-systemd-helper unmask $unit
deb-systemd-helper --quiet was-enabled $unit
deb-systemd-helper enable $unit
deb-systemd-helper update-state $unit"
run prerm upgrade 1.1
expect "prerm upgrade (the service keeps running)" ""
run prerm remove
expect "prerm remove in a scratch root (no service to stop there)" ""
run postrm remove
expect "remove" "deb-systemd-helper mask $unit"

# Purge removes the service's state, where systemd keeps it for a dynamic user, and nothing else.
mkdir -p "$work/root/var/lib/private/trelubki-serwer/Welkor/Trelubki" "$work/root/var/lib/other"
echo "adres=10.0.0.5" > "$work/root/var/lib/private/trelubki-serwer/Welkor/Trelubki/Serwer.ini"
ln -s private/trelubki-serwer "$work/root/var/lib/trelubki-serwer"
run postrm purge
expect "purge" "deb-systemd-helper purge $unit
deb-systemd-helper unmask $unit"
if [ -e "$work/root/var/lib/private/trelubki-serwer" ] || [ -L "$work/root/var/lib/trelubki-serwer" ]; then
  echo "purge left the state folder"; exit 1
fi
[ -d "$work/root/var/lib/other" ] || { echo "purge removed what is not its own"; exit 1; }
# Without the helpers (a system without init-system-helpers) nothing fails.
mkdir "$work/bare"
ln -s "$(command -v rm)" "$work/bare/rm"
for s in postinst prerm postrm; do
  DPKG_ROOT=$work/root PATH=$work/bare /bin/sh -e "$control/$s" "$( [ $s = postinst ] && echo configure || echo purge)" \
    || { echo "$s without the helpers failed"; exit 1; }
done
echo "maintainer scripts are in order"
