#!/usr/bin/env bash
# measure-startup.sh [RUNS]: how long marquen takes from its start to its main
# window on screen (the frame, titled "Marquen", not the wait dialog), with the
# virtual printer on COM7 and with a configured port that does not exist.
# Runs on $DISPLAY, or under Xvfb without one. Prints the median and the
# longest of RUNS starts (default 5) for each. MARQUEN_BIN names another
# build of the program to measure (to compare two builds on the same load).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi
export GDK_BACKEND=x11
work=$(mktemp -d)
vprinter_pid=""
trap 'kill $vprinter_pid 2>/dev/null || true; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work"
build/bin/regsvr build/bin/libquorlink.so >/dev/null
build/bin/vprinter --ignore-stdin > "$work/vprinter.path" &
vprinter_pid=$!
for _ in $(seq 50); do [ -s "$work/vprinter.path" ] && break; sleep 0.1; done
printf 'COM7=%s\nCOM9=/dev/marquen-no-such-port\n' "$(head -1 "$work/vprinter.path")" > "$work/ports"
export QUORLINK_PORT_MAP="$work/ports"

measure() {  # measure PORT_INDEX LABEL
  local times=()
  for _ in $(seq "$runs"); do
    printf '[Settings]\nInterface=0\nPort=%s\nFlow\\ control=0\n' "$1" > "$work/Marquen.conf"
    local start end pid
    start=$(date +%s%N)
    "${MARQUEN_BIN:-build/bin/marquen}" resources/samples/marquen-logo.bmp &
    pid=$!
    until xdotool search --onlyvisible --name '^Marquen$' 2>/dev/null | grep -q .; do
      # A program that ended (no display, a crash) shows no window: say so.
      if ! kill -0 "$pid" 2>/dev/null; then echo "marquen ended before its window showed" >&2; exit 1; fi
      sleep 0.005
    done
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
    kill -TERM "$pid"; wait "$pid" || true
  done
  local sorted
  sorted=$(printf '%s\n' "${times[@]}" | sort -n)
  echo "$2: median $(echo "$sorted" | sed -n "$(( (runs + 1) / 2 ))p") ms, longest $(echo "$sorted" | tail -1) ms (${times[*]})"
}
measure 6 "virtual printer on COM7  "
measure 8 "port COM9 that is missing"
