#!/usr/bin/env bash
# Takes docs/window-windows.png: the Windows program's window under Wine, on an X display of its
# own (Xvfb and openbox), with two clients logged in.
set -euo pipefail
cd "$(dirname "$0")/.."
export TZZ_WINDOWS_LEG=1
source tools/setup.sh
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-win --target tzz-screenshot
mkdir -p docs
bmp="$(mktemp --suffix=.bmp)"
trap 'rm -f "$bmp"' EXIT
tools/wine-run.sh --prefix build-win/wine-x11 --display build-win/tzz-screenshot.exe "Z:$bmp"
# BMP (24-bit, bottom-up) to PNG with nothing but Python's own zlib.
python3 - "$bmp" docs/window-windows.png <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
offset, = struct.unpack_from('<I', data, 10)
width, height = struct.unpack_from('<ii', data, 18)
stride = (width * 3 + 3) & ~3
rows = []
for y in range(height - 1, -1, -1):
    row = data[offset + y * stride: offset + y * stride + width * 3]
    rgb = bytearray(row)
    rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
    rows.append(b'\0' + bytes(rgb))
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b'')
open(sys.argv[2], 'wb').write(png)
PY
echo "docs/window-windows.png"
