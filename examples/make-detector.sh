#!/bin/sh
# Writes a detector frame of 4096 x 4096 values (about 100 MB, some ten seconds) to FILE: rings
# around the beam's centre on a background, with a little noise. Too large to ship; meant for
# --bin, as the README shows.
#   examples/make-detector.sh FILE
set -eu
[ $# -eq 1 ] || { echo "usage: $0 FILE" >&2; exit 2; }
awk 'BEGIN {
    n = 4096; c = 2047.5
    for (r = 0; r < n; r++) {
        for (k = 0; k < n; k++) {
            dx = k - c; dy = r - c; d = sqrt(dx * dx + dy * dy)
            v = 200 + 3000 * exp(-d / 900) * (1 + cos(d / 40)) ^ 2 / 4
            h = sin(k * 12.9898 + r * 78.233) * 43758.5453
            printf "%s%.1f", (k ? " " : ""), v + 40 * (h - int(h))
        }
        printf "\n"
    }
}' > "$1"
