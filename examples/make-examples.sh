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

# frames/FRAME1.DAT .. FRAME4.DAT: four frames of a simulation, a warm spot that spreads and cools,
# 64 values a row, 48 rows: meant for -AU, which gives every frame its size and one gray scale.
mkdir -p frames
for t in 1 2 3 4; do
    awk -v t="$t" 'BEGIN {
        w = 4 + 3 * t; peak = 100 / t
        for (r = 0; r < 48; r++) {
            line = ""
            for (c = 0; c < 64; c++) {
                d2 = (c - 20 - 6 * t) ^ 2 + (r - 24) ^ 2
                line = line (c ? " " : "") sprintf("%.4f", 15 + peak * exp(-d2 / (2 * w * w)))
            }
            print line
        }
    }' > "frames/FRAME$t.DAT"
done

# PRESSURE.DAT: a pressure field of 101325 Pa +- 0.05, 96 values a row, 96 rows: single precision
# holds about 7 digits, and shows it in 13 gray levels; -P shows all 256.
awk 'BEGIN {
    for (r = 0; r < 96; r++) {
        line = ""
        for (c = 0; c < 96; c++) {
            v = 101325 + 0.05 * sin(c / 15.0) * cos(r / 20.0)
            line = line (c ? " " : "") sprintf("%.6f", v)
        }
        print line
    }
}' > PRESSURE.DAT
