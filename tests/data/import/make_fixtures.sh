#!/bin/sh
# Regenerates the import fixtures with ImageMagick (Debian's imagemagick).
# Every good picture is 16 x 8: the left half rgb(200,100,50) (grey 124), the
# right half rgb(30,220,240) (grey 165); grey-only files hold grey 124 and 165;
# alpha files hold black at alpha 128 on the left (over white: grey 127).
set -eu
cd "$(dirname "$0")"
g=good
two="-size 8x8 xc:rgb(200,100,50) -size 8x8 xc:rgb(30,220,240) +append"
greys="-size 8x8 xc:gray(124) -size 8x8 xc:gray(165) +append"
m() { convert "$@"; }
m $two -strip -type TrueColor -depth 8 PNG24:$g/rgb8.png
m $two -strip -type TrueColor -depth 16 PNG48:$g/rgb16.png
m $two -strip -type Palette PNG8:$g/palette.png
m $greys -strip -colorspace Gray -depth 8 PNG:$g/grey8.png
m $greys -strip -colorspace Gray -depth 16 PNG:$g/grey16.png
m -size 8x8 xc:black -size 8x8 xc:white +append -strip -colorspace Gray -depth 1 PNG:$g/grey1.png
m -size 8x8 "xc:rgba(0,0,0,0.50196)" -size 8x8 "xc:rgba(30,220,240,1)" +append -strip PNG32:$g/rgba8.png
m -size 8x8 "xc:graya(0,0.50196)" -size 8x8 "xc:graya(165,1)" +append -strip -type GrayscaleAlpha PNG:$g/greyalpha.png
m $two -strip -quality 95 $g/rgb.jpg
m $greys -strip -colorspace Gray -quality 95 $g/grey.jpg
m $two -strip -colorspace CMYK -quality 95 $g/cmyk.jpg
m $two -strip $g/still.gif
m \( $two \) \( -size 16x8 xc:black \) -strip -set delay 10 $g/animated.gif
m $two -strip -define webp:lossless=true $g/lossless.webp
m $two -strip -quality 95 $g/lossy.webp
m -size 8x8 "xc:rgba(0,0,0,0.50196)" -size 8x8 "xc:rgba(30,220,240,1)" +append -strip -define webp:lossless=true $g/alpha.webp
m $two -strip -depth 8 -compress None $g/rgb.tif
m $two -strip -depth 8 -compress LZW $g/lzw.tif
m $two -strip -compress Zip -depth 16 $g/rgb16.tif
m $greys -strip -colorspace Gray -compress LZW $g/grey.tif
m $two -strip -type TrueColor BMP3:$g/rgb24.bmp
m $two -strip -type TrueColorAlpha -alpha on BMP:$g/rgb32.bmp
m $two -fill "rgb(90,90,90)" -draw "point 7,0" -strip -type Palette BMP3:$g/palette4.bmp
m $two -fill "rgb(90,90,90)" -draw "point 7,0" -strip -type Palette -compress RLE BMP3:$g/rle.bmp
m $two -strip -define bmp:subtype=RGB565 BMP:$g/rgb565.bmp
