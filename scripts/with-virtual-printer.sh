#!/usr/bin/env bash
# with-virtual-printer.sh CONFIG_DIR COMMAND [ARGUMENT...]: runs COMMAND with
# a profile and a component registry of its own in CONFIG_DIR and a virtual
# printer (vprinter, "Version" 1) on COM7, then stops the printer. The
# profile is written only when CONFIG_DIR has none, so later changes stay.
# Uses the build in build/, or in MARQUEN_BUILD_DIR.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${MARQUEN_BUILD_DIR:-$root/build}")"
config="$1"
shift
mkdir -p "$config"
config="$(cd "$config" && pwd)"
export XDG_CONFIG_HOME="$config"
"$build/bin/regsvr" "$build/bin/libquorlink.so" >/dev/null
rm -f "$config/vprinter.path"
"$build/bin/vprinter" --ignore-stdin > "$config/vprinter.path" &
vprinter_pid=$!
trap 'kill $vprinter_pid 2>/dev/null || true; wait $vprinter_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$config/vprinter.path" ] && break; sleep 0.1; done
device=$(head -1 "$config/vprinter.path")
[ -n "$device" ] || { echo "vprinter did not start" >&2; exit 1; }
echo "COM7=$device" > "$config/ports"
export QUORLINK_PORT_MAP="$config/ports"
# COM7 (port 6), 115200 baud, no flow control, a printer that answers the
# memory queries and upload.
if [ ! -f "$config/Marquen.conf" ]; then
  printf '[Settings]\nInterface=0\nPort=6\nBaud\\ rate=115200\nFlow\\ control=0\nVersion=1\n' > "$config/Marquen.conf"
fi
echo "Printer: a virtual printer (vprinter) answers on COM7 ($device); settings in $config/Marquen.conf."
"$@"
