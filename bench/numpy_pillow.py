#!/usr/bin/env python3
"""Baseline: the same conversion with numpy.loadtxt and Pillow."""
import sys

import numpy as np
from PIL import Image


def main() -> None:
    source, target, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    values = np.loadtxt(source, comments=("#", "%", "!"), dtype=np.float32, ndmin=2)
    low = np.float64(values.min())
    span = np.float64(values.max()) - low
    with np.errstate(invalid="ignore", divide="ignore"):
        levels = (values.astype(np.float64) - low) / span * 255.0
    levels = np.nan_to_num(levels, nan=0.0).astype(np.int64) & 0xFF
    picture = np.zeros((height, width), dtype=np.uint8)
    rows, cols = min(height, levels.shape[0]), min(width, levels.shape[1])
    picture[:rows, :cols] = levels[:rows, :cols]
    Image.fromarray(picture, mode="L").save(target, format="GIF")
    if len(sys.argv) > 5:  # also write the scaled values as a plain PGM for pamtogif
        with open(sys.argv[5], "w", encoding="ascii") as pgm:
            pgm.write(f"P2\n{width} {height}\n255\n")
            np.savetxt(pgm, picture, fmt="%d")


if __name__ == "__main__":
    main()
