#!/usr/bin/env bash
# What replacing results costs: 1,000 two-row data files converted as new results and, with -S,
# over the results of the run before (each replaced result is flushed to the disk first). Prints
# the median of several runs per program; give more programs (e.g. one built without the flush)
# to compare them on the same files. Files go to build/replace-cost/.
#   bench/replace_cost.sh [program ...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ $# -eq 0 ]; then
    source scripts/helpers.sh
    build_release >/dev/null
    set -- "$root/build/release/graygif"
fi
programs=()
for program in "$@"; do
    [ -x "$program" ] || { echo "not a program: $program" >&2 && exit 1; }
    programs+=("$(realpath "$program")")
done
files=1000
runs=${RUNS:-7}
work=build/replace-cost
rm -rf "$work" && mkdir -p "$work" && cd "$work"
names=()
for ((i = 0; i < files; ++i)); do
    name=$(printf 'F%04d.DAT' "$i")
    printf '0 1\n1 0\n' >"$name"
    names+=("$name")
done

nanoseconds() { # program switches...: one run's wall time
    local start
    start=$(date +%s%N)
    "$@" "${names[@]}" >/dev/null 2>&1 || { echo "run failed: $*" >&2 && exit 1; }
    echo $(($(date +%s%N) - start))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-50s %10s %10s %8s\n' program "new (s)" "-S (s)" ratio
for program in "${programs[@]}"; do
    new=$(for ((r = 0; r < runs; ++r)); do
        rm -f ./*.gif
        nanoseconds "$program" -G -X2 -Y2
    done | median)
    replace=$(for ((r = 0; r < runs; ++r)); do nanoseconds "$program" -G -S -X2 -Y2; done | median)
    awk -v p="$program" -v n="$new" -v r="$replace" \
        'BEGIN { printf "%-50s %10.3f %10.3f %8.2f\n", p, n / 1e9, r / 1e9, r / n }'
done
