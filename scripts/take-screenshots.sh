#!/usr/bin/env bash
# take-screenshots.sh PICTURE: on the X server of $DISPLAY (no window
# manager needed), starts marquen on PICTURE, saves a screenshot of each of
# its three pages to build/screenshots/<page>.png (picture-info, download,
# communication) and ends the program as a user would (settings saved); then
# starts it on a colour logo and saves its import dialog to import.png.
# MARQUEN_BUILD_DIR names another build folder than build/.
set -euo pipefail
picture="$(realpath "$1")"
cd "$(dirname "$0")/.."
build="${MARQUEN_BUILD_DIR:-build}"
export GDK_BACKEND=x11
mkdir -p "$build/screenshots"
"$build/bin/marquen" "$picture" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
# The main window is the one titled "Marquen" (the wait dialog has no title).
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Marquen$' | head -1 || true)
if [ -z "$window" ]; then
  echo "marquen did not open its window" >&2
  exit 1
fi
sleep 1
# A click on the picture gives the window the keyboard; Ctrl+Tab turns pages.
xdotool mousemove --sync 300 450 click 1
for page in picture-info download communication; do
  sleep 0.7
  import -window "$window" "$build/screenshots/$page.png"
  xdotool key ctrl+Tab
done
kill -TERM $pid
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
trap - EXIT
wait $pid

# The import dialog, as a colour logo on the command line opens it; Escape
# cancels it, the program starts without a picture and is ended.
"$build/bin/marquen" "$(realpath tests/data/ui/shop-logo.png)" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Import picture$' | head -1 || true)
if [ -z "$window" ]; then
  echo "marquen did not open its import dialog" >&2
  exit 1
fi
sleep 1
import -window "$window" "$build/screenshots/import.png"
# Keys sent to a window directly are ignored by the toolkit: focus it first.
xdotool windowfocus --sync "$window" key Escape
if ! timeout 30 xdotool search --sync --onlyvisible --name '^Marquen$' >/dev/null; then
  echo "marquen did not open its window after the import was cancelled" >&2
  exit 1
fi
kill -TERM $pid
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
trap - EXIT
wait $pid || true
