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
vprinter_pid=""
cleanup() {
  if [ -n "$vprinter_pid" ]; then kill "$vprinter_pid" 2>/dev/null || true; wait "$vprinter_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ -f "$user_profile" ] && grep -q '^Interface=' "$user_profile"; then
  echo "Printer: as configured in $user_profile"
  build/bin/regsvr build/bin/libquorlink.so >/dev/null
else
  export XDG_CONFIG_HOME="$PWD/build/main-config"
  mkdir -p "$XDG_CONFIG_HOME"
  build/bin/regsvr build/bin/libquorlink.so >/dev/null
  build/bin/vprinter --ignore-stdin > "$XDG_CONFIG_HOME/vprinter.path" &
  vprinter_pid=$!
  for _ in $(seq 50); do [ -s "$XDG_CONFIG_HOME/vprinter.path" ] && break; sleep 0.1; done
  device=$(head -1 "$XDG_CONFIG_HOME/vprinter.path")
  [ -n "$device" ] || { echo "vprinter did not start" >&2; exit 1; }
  echo "COM7=$device" > "$XDG_CONFIG_HOME/ports"
  export QUORLINK_PORT_MAP="$XDG_CONFIG_HOME/ports"
  # COM7 (port 6), 115200 baud, no flow control, and a printer that answers
  # the memory queries and upload ("Version" 1).
  if [ ! -f "$XDG_CONFIG_HOME/Marquen.conf" ]; then
    printf '[Settings]\nInterface=0\nPort=6\nBaud\\ rate=115200\nFlow\\ control=0\nVersion=1\n' \
      > "$XDG_CONFIG_HOME/Marquen.conf"
  fi
  echo "Printer: no printer configured; a virtual printer (vprinter) answers on COM7 ($device)."
  echo "         Its settings are kept in $XDG_CONFIG_HOME/Marquen.conf."
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  build/bin/marquen "$sample"
else
  rm -f build/screenshots/main-*.png
  xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" scripts/take-screenshots.sh "$sample"
  echo "No display: marquen ran under Xvfb; its pages are in build/screenshots/:"
  ls build/screenshots/main-*.png
fi
