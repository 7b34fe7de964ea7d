#!/usr/bin/env bash
# Renders the program's icon from its drawing into the fixed-size PNGs of the
# hicolor theme. Run it after changing the drawing and commit the PNGs: the
# build installs them as they are and does not need an SVG renderer.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/.."
icons=resources/desktop/icons/hicolor
svg=$icons/scalable/apps/marquen.svg
command -v rsvg-convert >/dev/null || { echo "render-icons: rsvg-convert not found (apt-get install librsvg2-bin)" >&2; exit 1; }
for size in 16 24 32 48 64 128 256; do
  mkdir -p "$icons/${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio "$svg" \
    --output "$icons/${size}x${size}/apps/marquen.png"
done
echo "render-icons: PNGs written under $icons"
