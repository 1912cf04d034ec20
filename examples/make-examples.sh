#!/bin/sh
# Writes the example data files of this folder (awk only, so it runs anywhere).
set -eu
cd "$(dirname "$0")"

# WAVES.DAT: a smooth 2-D function, 160 values a row, 120 rows.
awk 'BEGIN {
    for (r = 0; r < 120; r++) {
        line = ""
        for (c = 0; c < 160; c++) {
            x = (c - 80) / 18.0; y = (r - 60) / 18.0
            v = sin(x * x + y * y) * exp(-(x * x + y * y) / 12) + 0.25 * cos(3 * x - y)
            line = line (c ? " " : "") sprintf("%.5g", v)
        }
        print line
    }
}' > WAVES.DAT

# RINGS.DAT: comment lines at the top and between the rows, CR LF line ends, comma separated.
awk 'BEGIN {
    printf "# Concentric rings, 96 x 96 values\r\n"
    printf "%% written by make-examples.sh\r\n"
    for (r = 0; r < 96; r++) {
        if (r == 48) printf "! half way\r\n"
        line = ""
        for (c = 0; c < 96; c++) {
            d = sqrt((c - 47.5) ^ 2 + (r - 47.5) ^ 2)
            line = line (c ? "," : "") sprintf("%.4e", 1000 * cos(d / 3) / (1 + d / 20))
        }
        printf "%s\r\n", line
    }
}' > RINGS.DAT

# SERIES.DAT: 200 rows of 48 values, one spectrum a row: meant for -R, which lays the rows
# out from left to right.
awk 'BEGIN {
    for (r = 0; r < 200; r++) {
        line = ""
        for (c = 0; c < 48; c++) {
            f = 8 + 30 * (0.5 + 0.5 * sin(r / 25.0))
            v = exp(-((c - f) ^ 2) / 18) + 0.3 * exp(-((c - 0.5 * f) ^ 2) / 8)
            line = line (c ? "\t" : "") sprintf("%.6f", v - 0.1)
        }
        print line
    }
}' > SERIES.DAT
