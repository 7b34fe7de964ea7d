#!/usr/bin/env bash
# The main job on a fresh machine: packages, build, the bundled sample logo
# converted to every printer format, then the program itself on that logo.
# Without a configured printer it talks to a virtual one (vprinter on COM7).
# Without a display it runs under Xvfb and saves a screenshot of each page to
# build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build

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

# The user's own profile decides the printer once it names a connection;
# otherwise the program runs with a profile of its own under build/, on a
# virtual printer, and the user's settings stay untouched.
user_profile="${XDG_CONFIG_HOME:-$HOME/.config}/Marquen.conf"
run=()
if [ -f "$user_profile" ] && grep -q '^Interface=' "$user_profile"; then
  echo "Printer: as configured in $user_profile"
  build/bin/regsvr build/bin/libquorlink.so >/dev/null
else
  echo "No printer configured in $user_profile."
  run=(scripts/with-virtual-printer.sh build/main-config)
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  "${run[@]}" build/bin/marquen "$sample"
else
  "${run[@]}" xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" scripts/take-screenshots.sh "$sample"
  echo "No display: marquen ran under Xvfb; a screenshot of each page is in build/screenshots/:"
  ls build/screenshots/{picture-info,download,communication}.png
fi
