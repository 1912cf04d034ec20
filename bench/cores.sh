#!/usr/bin/env bash
# What the worker threads gain: the release program with -J1 (one thread) against its default
# (one worker per usable processor), whole-process time with hyperfine on page-cached files:
#   - 2048 x 2048 values (about 40 MB of text);
#   - 200 files of 256 x 256 values converted by one `graygif '*.dat'` run;
#   - 10 million rows (and the peak memory of both);
#   - the split threshold: 40 files of each of several sizes in one run, to see from which size
#     splitting a file pays (smaller files are read by one thread).
# Checks first that both write the same pictures and messages. Writes a markdown table to
# bench/results-cores.md (or the file given).
#   bench/cores.sh [output.md]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-bench/results-cores.md}")"
source scripts/helpers.sh
scripts/install-deps.sh build bench
build_release >/dev/null
repo="$PWD"
exe="$repo/build/release/graygif"
py=/usr/bin/python3 # Debian's, with numpy
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

same_output() { # folder, switches...: -J1 and the default write the same bytes
    local folder=$1
    shift
    (cd "$folder" && "$exe" -S -G -J1 "$@" >../out1.txt 2>../err1.txt && mkdir -p ../one &&
        cp ./*.gif ../one/ && "$exe" -S -G "$@" >../out2.txt 2>../err2.txt)
    for gif in one/*.gif; do cmp -s "$gif" "$folder/$(basename "$gif")" || { echo "DIFFERENT: $gif"; exit 1; }; done
    if ! cmp -s out1.txt out2.txt || ! cmp -s err1.txt err2.txt; then echo "DIFFERENT messages"; exit 1; fi
    rm -rf one
}

compare() { # title, folder, switches...
    local title=$1 folder=$2
    shift 2
    same_output "$folder" "$@"
    (cd "$folder" && hyperfine --warmup 2 --runs 10 --export-markdown ../t.md \
        -n "one thread (-J1)" "$exe -S -G -J1 $*" -n "default" "$exe -S -G $*" >/dev/null)
    {
        echo "## $title"
        echo
        cat t.md
        echo
    } >>table.md
}

{
    echo "# graygif: one thread against the default"
    echo
    echo "Machine: $(nproc) usable processors, $(uname -m); $(date -u +%Y-%m-%d)."
    echo
} >table.md

mkdir big many rows
"$py" "$repo/bench/make_data.py" big/D2048.DAT 2048 2048
compare "2048 x 2048 values ($(du -h big/D2048.DAT | cut -f1) of text)" big -X2048 -Y2048 D2048.DAT

"$py" "$repo/bench/make_data.py" many/F000.DAT 256 256
for i in $(seq 1 199); do cp many/F000.DAT "many/F$(printf %03d "$i").DAT"; done
compare "200 files of 256 x 256 values ($(du -h many/F000.DAT | cut -f1) each), one run" many '*.DAT'

"$py" - <<'PY'
with open("rows/ROWS.DAT", "w") as out:
    line = "".join(f"{i % 977 * 1.5:.6g} -{i % 13}.25 {i * 7 % 1000}e-3\n" for i in range(100000))
    for _ in range(100):
        out.write(line)
PY
compare "10 million rows ($(du -h rows/ROWS.DAT | cut -f1) of text)" rows ROWS.DAT
{
    echo "| peak memory (max RSS) | -J1 | default |"
    echo "|---|---|---|"
    for case in "big -X2048 -Y2048 D2048.DAT" "rows ROWS.DAT"; do
        # shellcheck disable=SC2086 # the folder, then the switches
        set -- $case
        folder=$1
        shift
        rss=()
        for j in -J1 ""; do
            (cd "$folder" && /usr/bin/time -f %M -o ../rss.txt "$exe" -S -G $j "$@" >/dev/null 2>&1)
            rss+=("$(($(cat rss.txt) / 1024)) MiB")
        done
        echo "| $folder: $* | ${rss[0]} | ${rss[1]} |"
    done
    echo
} >>table.md

# From which size does splitting a file pay? 40 files of each size, -J1 against the default, in
# a build that splits every file (GRAYGIF_SPLIT_FROM=0).
cmake -S "$repo" -B "$repo/build/split-all" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS=-DGRAYGIF_SPLIT_FROM=0 >/dev/null
cmake --build "$repo/build/split-all" --target graygif >/dev/null
exe="$repo/build/split-all/graygif"
{
    echo "## Split threshold: 40 files of one size, every file split (GRAYGIF_SPLIT_FROM=0)"
    echo
    echo "| file size | -J1 | default | -J1 / default |"
    echo "|---|---|---|---|"
} >>table.md
for rows in 8 16 32 64 128 256; do
    dir="size$rows"
    mkdir "$dir"
    "$py" "$repo/bench/make_data.py" "$dir/F00.DAT" "$rows" 256
    for i in $(seq 1 39); do cp "$dir/F00.DAT" "$dir/F$(printf %02d "$i").DAT"; done
    (cd "$dir" && hyperfine --warmup 2 --runs 10 --export-json ../t.json \
        "$exe -S -G -J1 '*.DAT'" "$exe -S -G '*.DAT'" >/dev/null)
    "$py" - "$(du -h "$dir/F00.DAT" | cut -f1)" >>table.md <<'PY'
import json, sys
runs = json.load(open("t.json"))["results"]
one, many = runs[0]["mean"] * 1000, runs[1]["mean"] * 1000
print(f"| {sys.argv[1]} | {one:.1f} ms | {many:.1f} ms | {one / many:.2f}x |")
PY
done
cp table.md "$out"
cat table.md
