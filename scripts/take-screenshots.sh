#!/usr/bin/env bash
# take-screenshots.sh PICTURE: on the X server of $DISPLAY (no window
# manager needed), starts marquen on PICTURE, saves a screenshot of each of
# its three pages to build/screenshots/main-<page>.png and ends the program as
# a user would (its settings are saved).
set -euo pipefail
cd "$(dirname "$0")/.."
export GDK_BACKEND=x11
mkdir -p build/screenshots
build/bin/marquen "$1" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
if ! timeout 30 xdotool search --sync --onlyvisible --class marquen >/dev/null; then
  echo "marquen did not open its window" >&2
  exit 1
fi
sleep 1
# A click on the picture gives the window the keyboard; Ctrl+Tab turns pages.
xdotool mousemove --sync 300 450 click 1
for page in picture-info download communication; do
  sleep 0.7
  import -window root "build/screenshots/main-$page.png"
  xdotool key ctrl+Tab
done
kill -TERM $pid
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
trap - EXIT
wait $pid
