#!/usr/bin/env bash
# Redraws docs/gallery.png, the picture of the gallery page in the README, from
# a built site: docs/screenshot.sh [build/release/docs/html]
# Needs Debian's chromium and python3-pil.
set -euo pipefail
cd "$(dirname "$0")/.."
html="$(realpath "${1:-build/release/docs/html}")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
  --disable-component-update --disable-sync --no-first-run --hide-scrollbars \
  --user-data-dir="$tmp/profile" --window-size=1100,1050 \
  --screenshot="$tmp/page.png" "file://$html/gallery/index.html" 2>/dev/null
# 880 pixels wide in 256 colours keeps the file under 100 KB.
/usr/bin/python3 - "$tmp/page.png" docs/gallery.png <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
im = im.resize((880, im.height * 880 // im.width), Image.LANCZOS)
im.quantize(colors=256, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE).save(
    sys.argv[2], optimize=True)
PY
echo "wrote docs/gallery.png"
