#!/usr/bin/env bash
# Whole-process comparison of graygif with two baselines on page-cached generated data:
#   numpy.loadtxt + Pillow doing the same scaling and writing a GIF, and
#   pamtogif on a plain PGM of the already scaled values (a lighter job).
# Checks that every program's picture decodes to the same pixels before timing; writes a
# markdown table to bench/results.md (or the file given).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-bench/results.md}")"
source scripts/helpers.sh
scripts/install-deps.sh build bench
build_release >/dev/null
exe="$PWD/build/release/graygif"
py=/usr/bin/python3 # Debian's, with numpy and Pillow
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

{
    echo "# graygif end-to-end benchmark"
    echo
    echo "Machine: $(nproc) cores, $(uname -m); $(date -u +%Y-%m-%d)."
    echo
} > table.md

for size in 256 2048; do
    data="D$size.DAT"
    "$py" "$OLDPWD/bench/make_data.py" "$data" "$size" "$size"
    cat "$data" > /dev/null # page-cache it
    "$exe" -S -G -X$size -Y$size "$data" 2>/dev/null
    "$py" "$OLDPWD/bench/numpy_pillow.py" "$data" "np$size.gif" "$size" "$size" "scaled$size.pgm"
    pamtogif < "scaled$size.pgm" > "pam$size.gif" 2>/dev/null
    "$py" "$OLDPWD/bench/same_pixels.py" "D$size.gif" "np$size.gif" "pam$size.gif"
    hyperfine --warmup 2 --runs 10 --export-markdown "time$size.md" \
        -n "graygif $size" "$exe -S -G -X$size -Y$size $data" \
        -n "graygif -J1 $size (one thread)" "$exe -S -G -J1 -X$size -Y$size $data" \
        -n "numpy.loadtxt + Pillow $size" "$py $OLDPWD/bench/numpy_pillow.py $data np$size.gif $size $size" \
        -n "pamtogif $size (scaled PGM)" "pamtogif < scaled$size.pgm > pam$size.gif"
    {
        echo "## ${size} x ${size} values ($(du -h "$data" | cut -f1) of text)"
        echo
        cat "time$size.md"
        echo
        echo "| program | peak memory (max RSS) |"
        echo "|---|---|"
        for cmd in "$exe -S -G -X$size -Y$size $data" \
                   "$py $OLDPWD/bench/numpy_pillow.py $data np$size.gif $size $size" \
                   "sh -c 'pamtogif < scaled$size.pgm > pam$size.gif'"; do
            /usr/bin/time -f %M -o rss.txt sh -c "exec $cmd >/dev/null 2>&1"
            rss=$(cat rss.txt)
            echo "| \`${cmd/$OLDPWD\//}\` | $((rss / 1024)) MiB ($rss KiB) |"
        done
        echo
    } >> table.md
    rm -f "scaled$size.pgm"
done

# Memory stays bounded whatever the file's size: 10 million rows.
"$py" - <<'PY'
with open("ROWS.DAT", "w") as out:
    line = "".join(f"{i % 977 * 1.5:.6g} -{i % 13}.25 {i * 7 % 1000}e-3\n" for i in range(100000))
    for _ in range(100):
        out.write(line)
PY
start=$(date +%s.%N)
/usr/bin/time -f %M -o rss.txt "$exe" -S -G -X256 -Y256 ROWS.DAT >/dev/null 2>&1
rss=$(cat rss.txt)
end=$(date +%s.%N)
{
    echo "## 10 million rows ($(du -h ROWS.DAT | cut -f1) of text)"
    echo
    echo "graygif: $(awk "BEGIN { printf \"%.2f\", $end - $start }") s, peak memory $((rss / 1024)) MiB ($rss KiB)."
} >> table.md
cp table.md "$out"
cat table.md
