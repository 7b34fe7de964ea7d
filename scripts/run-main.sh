#!/usr/bin/env bash
# The main job on a fresh machine: packages, build, then convert the bundled
# sample logo to every printer format and show what came out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
if [ -x build/bin/regsvr ] && [ -f build/bin/libquorlink.so ]; then
  build/bin/regsvr build/bin/libquorlink.so
fi
out=build/sample-output
mkdir -p "$out"
cli=build/bin/marquen-cli
sample=resources/samples/marquen-logo.bmp
$cli info "$sample"
for t in LOGO EPSON_GFX RASTER_GFX RASTER_GFX_EXT BITMAP; do
  ext=gfx; [ "$t" = LOGO ] && ext=log; [ "$t" = BITMAP ] && ext=bmp
  $cli convert "$sample" "$out/sample-$t.$ext" --type "$t"
  $cli info "$out/sample-$t.$ext"
done
