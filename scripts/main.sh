#!/usr/bin/env bash
# The main job: builds the component and kvmail, then sends a sample HTML mail
# with an inline image and an attachment. With no server configured it goes to
# the outbox; give SMTP_SERVER (and SMTP_PORT) to send it for real.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" --target kvmail orkv14
kvmail=./build/linux-release/tools/kvmail/kvmail
$kvmail info

# The sample's picture: a 16x16 GIF made here rather than kept in the tree.
sample=build/sample
mkdir -p "$sample"
cp samples/hello.html samples/hello.txt samples/notes.txt "$sample"/
python3 - "$sample/logo.gif" <<'PY'
import struct, sys
w = h = 16
palette = bytes([0x1f, 0x5f, 0xbf, 0xff, 0xd0, 0x40]) + bytes(6)
pixels = bytes((x // 4 + y // 4) % 2 for y in range(h) for x in range(w))
# LZW with a 2-bit minimum code size: a clear code, literal codes, an end code.
codes, bits = [], 3
for i, p in enumerate(pixels):
    if i % 2 == 0: codes.append(4)
    codes.append(p)
codes.append(5)
stream, acc, n = bytearray(), 0, 0
for c in codes:
    acc |= c << n; n += bits
    while n >= 8: stream.append(acc & 0xff); acc >>= 8; n -= 8
if n: stream.append(acc)
blocks = b"".join(bytes([len(stream[i:i+255])]) + stream[i:i+255] for i in range(0, len(stream), 255))
gif = b"GIF89a" + struct.pack("<HHBBB", w, h, 0xf1, 0, 0) + palette
gif += b"\x2c" + struct.pack("<HHHHB", 0, 0, w, h, 0) + b"\x02" + blocks + b"\x00;"
open(sys.argv[1], "wb").write(gif)
PY

args=(--from "orkv14 sample <sample@example.org>" --to "Reader <reader@example.org>"
      --subject "Hello from orkv14: HTML, an inline picture, an attachment"
      --text "$sample/hello.txt" --html "$sample/hello.html" --attach "$sample/notes.txt"
      --outbox "$sample/outbox")
if [ -n "${SMTP_SERVER:-}" ]; then
  args+=(--server "$SMTP_SERVER" --port "${SMTP_PORT:-25}")
fi
$kvmail send "${args[@]}"
latest=$(ls -t "$sample"/outbox/*.eml 2>/dev/null | head -n 1 || true)
if [ -n "$latest" ]; then
  echo
  echo "== what the mail holds ($latest)"
  $kvmail show "$latest"
fi
