#!/usr/bin/python3
"""How close a dithered picture looks to its grey source: blur the dots with a
Gaussian of sigma 1.5 dots (what the eye does at reading distance) and take
the mean absolute error against the grey source, in grey levels (0-255).

    dither_quality.py SOURCE.png OURS.bmp OTHER.bmp

prints both figures; lower is better."""
import sys

import numpy
from PIL import Image


def gaussian_blur(levels, sigma):
    radius = int(3 * sigma + 0.5)
    x = numpy.arange(-radius, radius + 1)
    kernel = numpy.exp(-(x * x) / (2 * sigma * sigma))
    kernel /= kernel.sum()
    padded = numpy.pad(levels, radius, mode="edge")
    rows = numpy.apply_along_axis(lambda r: numpy.convolve(r, kernel, mode="valid"), 1, padded)
    return numpy.apply_along_axis(lambda c: numpy.convolve(c, kernel, mode="valid"), 0, rows)


def blur_mae(source, dithered):
    grey = numpy.asarray(Image.open(source).convert("L"), dtype=numpy.float64)
    dots = numpy.asarray(Image.open(dithered).convert("L"), dtype=numpy.float64)
    if dots.shape != grey.shape:
        raise SystemExit(f"{dithered}: size {dots.shape} differs from the source's {grey.shape}")
    return float(numpy.mean(numpy.abs(gaussian_blur(dots, 1.5) - grey)))


if __name__ == "__main__":
    source, ours, other = sys.argv[1:4]
    print(f"{source}: blur-MAE (sigma 1.5) marquen-cli {blur_mae(source, ours):.3f}, "
          f"Pillow {blur_mae(source, other):.3f} grey levels")
