#!/usr/bin/env bash
# Moves the data files (*.DAT, any letter case) of SOURCE into part directories PARTS/part-00000,
# PARTS/part-00001, ... of at most COUNT files each (default 500) for convert.sbatch, which
# converts a part in one run. The first data row of a run fixes the number of values per row for
# all its files, so a part only holds files whose first data row has as many values. Prints the
# sbatch line that converts the parts. File names must not hold a tab or a newline.
#   split-parts.sh SOURCE PARTS [COUNT]
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: split-parts.sh SOURCE PARTS [COUNT]" >&2
    exit 2
fi
source=$1 parts=$2 count=${3:-500}
if ! [[ $count =~ ^[1-9][0-9]*$ ]]; then
    echo "split-parts: COUNT must be a positive number" >&2
    exit 2
fi
mkdir -p "$parts"
if compgen -G "$parts/part-*" >/dev/null; then
    echo "split-parts: $parts holds part directories already" >&2
    exit 2
fi

# "WIDTH<tab>PATH" for every data file, sorted by width, then by name. The width is the number of
# values of the first line that is neither a comment (! % #) nor empty; 0 for a file without one.
listing=$(find "$source" -maxdepth 1 -type f -iname '*.dat' -print0 |
    xargs -0 -r awk 'BEGIN {
        for (i = 1; i < ARGC; i++) {
            width = 0
            while ((getline line < ARGV[i]) > 0) {
                if (line ~ /[!%#]/) continue
                gsub(/^[ \t,\r]+|[ \t,\r]+$/, "", line)
                if (line != "") width = split(line, values, /[ \t,\r]+/)
                break
            }
            close(ARGV[i])
            print width "\t" ARGV[i]
        }
        exit
    }' | LC_ALL=C sort -t "$(printf '\t')" -k1,1n -k2)

part=-1 in_part=0 last_width="" files=()
move() { [ ${#files[@]} -eq 0 ] || mv -t "$dir" -- "${files[@]}"; files=(); }
while IFS=$'\t' read -r width file; do
    [ -n "$file" ] || continue
    if [ "$width" != "$last_width" ] || [ "$in_part" -eq "$count" ]; then
        move
        part=$((part + 1)) in_part=0 last_width=$width
        dir=$(printf '%s/part-%05d' "$parts" "$part")
        mkdir "$dir"
    fi
    files+=("$file")
    in_part=$((in_part + 1))
done <<<"$listing"
move
if [ "$part" -lt 0 ]; then
    echo "split-parts: no data files in $source" >&2
    exit 1
fi
echo "$((part + 1)) parts in $parts; convert them with:"
echo "sbatch --array=0-$part $(dirname "$0")/convert.sbatch $(realpath "$parts")"
