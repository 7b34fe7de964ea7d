#!/bin/sh
# Network printers, whole process against vprinter --tcp on the loopback
# address: a 520 kB logo (2040 x 2040 dots, the largest GS * logo) to one
# printer, unpaced, best of RUNS downloads (MB/s of the logo stream); then a
# 17 kB logo (384 x 360 dots) rolled out to 50 printers with --jobs 1, 8
# and 32 (wall seconds and printers per second).
#
#   bench/network_rollout.sh [build/bin] [RUNS]
set -eu
bin=${1:-build/bin}
runs=${2:-3}
work=$(mktemp -d)
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
"$bin/regsvr" "$bin/libquorlink.so" >/dev/null

# A 1-bit bitmap of W x H dots with a pattern.
bitmap() {
  python3 - "$1" "$2" "$3" <<'PY'
import struct, sys
w, h, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
row = (w + 31) // 32 * 4
pixels = bytes(((i * 37) ^ (i >> 3)) & 0xFF for i in range(row * h))
header = b"BM" + struct.pack("<IHHI", 62 + len(pixels), 0, 0, 62)
info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 1, 0, len(pixels), 2835, 2835, 2, 0)
open(path, "wb").write(header + info + b"\0\0\0\0\xff\xff\xff\0" + pixels)
PY
}

# Starts a vprinter on a free TCP port; its address goes to the named file.
start_printer() {
  "$bin/vprinter" --tcp 0 --ignore-stdin --total-memory 2048 --logo-area 1024 >"$1" 2>/dev/null &
  pids="$pids $!"
  while [ ! -s "$1" ]; do sleep 0.02; done
}

now() { date +%s.%N; }

bitmap 2040 2040 "$work/big.bmp"
bitmap 384 360 "$work/small.bmp"

start_printer "$work/one"
address=$(head -1 "$work/one")
best=""
i=0
while [ "$i" -lt "$runs" ]; do
  start=$(now)
  "$bin/marquen-cli" download "$work/big.bmp" --logo 1 --port "$address" >"$work/out" 2>/dev/null
  end=$(now)
  bytes=$(sed -n 's/.*: \([0-9]*\) bytes, checksum.*/\1/p' "$work/out")
  seconds=$(echo "$end - $start" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$seconds < $best" | bc -l)" = 1 ]; then best=$seconds; fi
  i=$((i + 1))
done
printf 'one printer: %s bytes in %.3f s (whole command), %.2f MB/s\n' "$bytes" "$best" \
  "$(echo "$bytes / $best / 1000000" | bc -l)"

: >"$work/ports"
n=0
while [ "$n" -lt 50 ]; do
  start_printer "$work/p$n"
  head -1 "$work/p$n" >>"$work/ports"
  n=$((n + 1))
done
for jobs in 1 8 32; do
  start=$(now)
  "$bin/marquen-cli" download "$work/small.bmp" --logo 2 --ports-from "$work/ports" --jobs "$jobs" \
    >"$work/rollout" 2>&1 || true
  end=$(now)
  seconds=$(echo "$end - $start" | bc -l)
  printf 'roll-out to 50 printers, --jobs %2d: %.2f s, %.1f printers/s (%s)\n' "$jobs" "$seconds" \
    "$(echo "50 / $seconds" | bc -l)" "$(tail -1 "$work/rollout")"
done
