#!/usr/bin/python3
"""Writes the files of this folder with the tools that write such files: numpy.savetxt, pandas'
to_csv and the forms of a spreadsheet export and an ASCII grid. Needs numpy and pandas (Debian:
python3-numpy, python3-pandas); the files are kept in the repository, so only a change needs it."""
import os

import numpy as np
import pandas as pd

os.chdir(os.path.dirname(os.path.abspath(__file__)))

# A surface of 120 x 90 values with a round hole where no value was measured.
y, x = np.mgrid[0:90, 0:120]
surface = np.sin(x / 11.0) * np.cos(y / 9.0) + 0.02 * x
hole = (x - 80) ** 2 + (y - 40) ** 2 < 15**2

# numpy.savetxt: a header of comment lines, "nan" for a missing value.
saved = surface.copy()
saved[hole] = np.nan
np.savetxt("SAVETXT.TXT", saved, fmt="%.6g", header="surface, 120 x 90\nnan: not measured")

# pandas' to_csv: a header row, the index column, an empty field for a missing value.
frame = pd.DataFrame(saved, columns=[f"x{i}" for i in range(saved.shape[1])])
frame.to_csv("TO_CSV.CSV", float_format="%.5f")

# A spreadsheet export of most of Europe: byte-order mark, ";" between values, decimal
# commas, CR LF, one header row.
export = pd.DataFrame(np.round(surface * 100, 2), columns=[f"x{i}" for i in range(120)])
export.to_csv("EXPORT.CSV", sep=";", decimal=",", index=False, encoding="utf-8-sig",
              lineterminator="\r\n")

# An ASCII grid: six header lines, -9999 where there is no value.
grid = np.where(hole, -9999.0, np.round(surface * 250 + 500))
with open("GRID.ASC", "w") as out:
    out.write("ncols 120\nnrows 90\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n")
    np.savetxt(out, grid, fmt="%g")
