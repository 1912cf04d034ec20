#!/usr/bin/env bash
# Many small files in one run: `graygif '*.dat'` over 1,000 and over 8,000 two-row files in one
# folder, the results not there yet (so every result name is looked up without regard to case).
# The time must grow about linearly with the count: 8,000 files in at most 10 x the time of 1,000.
# Prints the best of three runs per count (GNU time) and the ratio.
#   bench/many_files.sh [program]      (default: the release build)
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-}"
if [ -z "$program" ]; then
    source scripts/helpers.sh
    scripts/install-deps.sh build bench
    build_release >/dev/null
    program="$PWD/build/release/graygif"
fi
program=$(realpath "$program")
work="$PWD/build/many"

best_time() { # folder -> best elapsed seconds of three runs
    local best=""
    for _ in 1 2 3; do
        rm -f "$1"/*.gif
        (cd "$1" && /usr/bin/time -f "%e" -o ../time.txt "$program" -G '*.dat' >/dev/null 2>&1)
        local t
        t=$(tail -n 1 "$1/../time.txt")
        if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
    done
    echo "$best"
}

declare -A seconds
for count in 1000 8000; do
    folder="$work/files$count"
    if [ ! -d "$folder" ]; then
        mkdir -p "$folder"
        for ((i = 0; i < count; i++)); do printf '%d 1\n2 %d\n' "$i" "$i" >"$folder/f$i.dat"; done
    fi
    seconds[$count]=$(best_time "$folder")
    echo "$count files: ${seconds[$count]} s"
done
awk -v a="${seconds[8000]}" -v b="${seconds[1000]}" \
    'BEGIN { printf "8,000 files take %.1f x the time of 1,000 (linear: 8 x, target: at most 10 x)\n", a / b }'
