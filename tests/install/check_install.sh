#!/usr/bin/env bash
# Installs the server component of the build into a temporary prefix, checks what lands there,
# that its program needs no Qt, and the systemd unit (systemd-analyze verify where it exists),
# then starts the program as the unit's ExecStart line says, on free ports, and asks it for the
# bootstrap address. With the window built, installs the desktop component beside it and checks
# its desktop entry and icon, and that the two share no file.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
desktop=$(mktemp -d)
trap '[ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; rm -rf "$prefix" "$desktop"' EXIT
cmake --install "$build" --prefix "$prefix" --component server >/dev/null

# A service needs no window: nothing of Qt may be among the libraries it loads.
if readelf -d "$prefix/bin/trelubki-serwer" | grep -i "NEEDED.*libQt"; then
  echo "the server program needs Qt"; exit 1
fi

if [ -e "$build/trelubki-serwer-headless" ]; then
  cmake --install "$build" --prefix "$desktop" --component desktop >/dev/null
  entry=$desktop/share/applications/trelubki-serwer-desktop.desktop
  for f in "$desktop/bin/trelubki-serwer-desktop" "$entry" \
           "$desktop/share/icons/hicolor/scalable/apps/trelubki-serwer.svg" \
           "$desktop/share/icons/hicolor/256x256/apps/trelubki-serwer.png"; do
    [ -e "$f" ] || { echo "missing after install of the desktop component: $f"; exit 1; }
  done
  readelf -d "$desktop/bin/trelubki-serwer-desktop" | grep -q "NEEDED.*libQt6Widgets" \
    || { echo "the desktop program is not the window build"; exit 1; }
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || { echo "desktop entry is not valid"; exit 1; }
  fi
  exec_line=$(sed -n 's/^Exec=//p' "$entry"); icon=$(sed -n 's/^Icon=//p' "$entry")
  [ -x "$desktop/bin/${exec_line%% *}" ] || { echo "Exec=$exec_line is not the installed program"; exit 1; }
  [ -e "$desktop/share/icons/hicolor/256x256/apps/$icon.png" ] || { echo "Icon=$icon is not installed"; exit 1; }
  common=$(comm -12 <(cd "$prefix" && find . -type f | sort) <(cd "$desktop" && find . -type f | sort))
  [ -z "$common" ] || { echo "both components install: $common"; exit 1; }
fi

unit=$prefix/lib/systemd/system/trelubki-serwer.service
for f in "$prefix/bin/trelubki-serwer" "$unit" "$prefix/share/trelubki-serwer/www/index.html"; do
  [ -e "$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -q "^ExecStart=$prefix/bin/trelubki-serwer --headless --doc-dir $prefix/share/trelubki-serwer/www" "$unit" \
  || { echo "ExecStart does not name the installed paths"; grep ExecStart "$unit"; exit 1; }
for line in "AmbientCapabilities=CAP_NET_BIND_SERVICE" "Restart=on-failure" "DynamicUser=yes" "StandardOutput=journal"; do
  grep -qx "$line" "$unit" || { echo "unit lacks $line"; exit 1; }
done
# Type=notify waits for READY and the watchdog for its pings: only a program that sends them
# (linked with libsystemd) may have them, or systemd would never see it start, or kill it.
if readelf -d "$prefix/bin/trelubki-serwer" | grep -q "NEEDED.*libsystemd"; then
  for line in "Type=notify" "WatchdogSec=30"; do
    grep -qx "$line" "$unit" || { echo "unit lacks $line"; exit 1; }
  done
else
  grep -qx "Type=exec" "$unit" || { echo "a program that does not notify needs Type=exec"; exit 1; }
  ! grep -q "^WatchdogSec" "$unit" || { echo "a program that does not notify can feed no watchdog"; exit 1; }
fi

if command -v systemd-analyze >/dev/null; then
  # Only the unit's own faults count; a machine without systemd running can still parse it.
  out=$(systemd-analyze verify "$unit" 2>&1 || true)
  if echo "$out" | grep -v -E "Failed to (connect|create|open|initialize)|bus|Permission|Read-only|not running|cgroup|/proc/" | grep -q "trelubki-serwer.service"; then
    echo "systemd-analyze verify: $out"; exit 1
  fi
fi

# A port nothing answers on (bash's /dev/tcp: no other tool needed).
free_port() {
  while :; do
    p=$((20000 + RANDOM % 12000))  # below the system's range of ephemeral ports
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}
http=$(free_port); messenger=$(free_port)
exec_start=$(sed -n 's/^ExecStart=//p' "$unit" | sed 's/ \$TRELUBKI_SERWER_OPTS//')
XDG_CONFIG_HOME="$prefix/state" $exec_start --http-port "$http" --messenger-port "$messenger" --address 10.0.0.5 \
  > "$prefix/log" 2>&1 &
pid=$!
for _ in $(seq 50); do
  reply=$( (exec 3<>"/dev/tcp/127.0.0.1/$http" && printf 'GET /appsvc/appmsg4.asp HTTP/1.0\r\n\r\n' >&3 &&
             timeout 0.5 cat <&3) 2>/dev/null || true)
  [ -n "$reply" ] && break
  sleep 0.1
done
case "$reply" in
  *"0 0 10.0.0.5:8074 10.0.0.5"*) ;;
  *) echo "the installed program did not answer: '$reply'"; cat "$prefix/log"; exit 1 ;;
esac
kill -TERM "$pid"; wait "$pid"; pid=
echo "installed program and unit are in order"
