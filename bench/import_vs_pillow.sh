#!/bin/sh
# Whole process against whole process: marquen-cli turning a colour PNG into a
# one-bit bitmap with Floyd-Steinberg, against Python Pillow doing the same
# (Image.open().convert('L').convert('1').save(), Debian's python3-pil), on a
# 2040 x 2040 and a 576 x 400 picture made here with ImageMagick. Prints the
# median user+system CPU and wall seconds of RUNS runs of each (alternating),
# then the quality figure of dither_quality.py.
#
#   bench/import_vs_pillow.sh [build/bin/marquen-cli] [RUNS]
set -eu
cli=${1:-build/bin/marquen-cli}
runs=${2:-11}
python=/usr/bin/python3   # Debian's, where python3-pil lives
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -seed 7 -size 2040x2040 plasma:red-blue -blur 0x3 -depth 8 -strip PNG24:"$work/big.png"
convert -seed 9 -size 576x400 plasma:yellow-green -blur 0x2 -depth 8 -strip PNG24:"$work/small.png"

# Median of the numbers on standard input.
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

for picture in small big; do
  : > "$work/ours.times"; : > "$work/pillow.times"
  i=0
  while [ "$i" -lt "$runs" ]; do
    /usr/bin/time -a -o "$work/ours.times" -f "%U %S %e" \
      "$cli" convert "$work/$picture.png" "$work/$picture-ours.bmp" --type BITMAP --dither floyd-steinberg
    /usr/bin/time -a -o "$work/pillow.times" -f "%U %S %e" \
      "$python" -c "import sys; from PIL import Image; Image.open(sys.argv[1]).convert('L').convert('1').save(sys.argv[2])" \
      "$work/$picture.png" "$work/$picture-pillow.bmp"
    i=$((i + 1))
  done
  ours_cpu=$(awk '{print $1 + $2}' "$work/ours.times" | median)
  ours_wall=$(awk '{print $3}' "$work/ours.times" | median)
  pil_cpu=$(awk '{print $1 + $2}' "$work/pillow.times" | median)
  pil_wall=$(awk '{print $3}' "$work/pillow.times" | median)
  echo "$picture ($(identify -format '%wx%h' "$work/$picture.png")): marquen-cli cpu ${ours_cpu}s wall ${ours_wall}s;" \
       "Pillow cpu ${pil_cpu}s wall ${pil_wall}s; Pillow/marquen-cli cpu" \
       "$(awk -v a="$pil_cpu" -v b="$ours_cpu" 'BEGIN {printf "%.2f", a / b}')"
done
"$python" "$here/dither_quality.py" "$work/small.png" "$work/small-ours.bmp" "$work/small-pillow.bmp"
"$python" "$here/dither_quality.py" "$work/big.png" "$work/big-ours.bmp" "$work/big-pillow.bmp"
