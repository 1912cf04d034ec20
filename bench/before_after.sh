#!/usr/bin/env bash
# Two builds of graygif in one run, on page-cached generated data: a commit's release build (the
# one "before") against this tree's, with hyperfine, by default and with -J1, on
#   - 2048 x 2048 values (about 41 MB of text),
#   - 200 files of 256 x 256 values in one run,
#   - 10 million rows at the default picture size,
# each writing new results (the old ones removed before every run, so no flush of a replaced
# result is timed); then the peak memory (max RSS) of both for each -J. Checks first that both
# write the same pictures. Writes a markdown table to standard output.
#   bench/before_after.sh COMMIT
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/helpers.sh
[ $# -eq 1 ] || fail "usage: bench/before_after.sh COMMIT"
scripts/install-deps.sh build bench >&2
build_release >&2
repo=$PWD
new="$repo/build/release/graygif"
py=/usr/bin/python3 # Debian's, with numpy
work="$(mktemp -d)"
trap 'git -C "$repo" worktree remove --force "$work/before-tree" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
git worktree add --detach "$work/before-tree" "$1" >&2
(cd "$work/before-tree" && cmake --preset release >/dev/null && cmake --build --preset release >&2)
old="$work/before-tree/build/release/graygif"
cd "$work"

mkdir big many rows
"$py" "$repo/bench/make_data.py" big/D2048.DAT 2048 2048
"$py" "$repo/bench/make_data.py" many/F000.DAT 256 256
for i in $(seq 1 199); do cp many/F000.DAT "many/F$(printf %03d "$i").DAT"; done
"$py" - <<'PY'
with open("rows/ROWS.DAT", "w") as out:
    line = "".join(f"{i % 977 * 1.5:.6g} -{i % 13}.25 {i * 7 % 1000}e-3\n" for i in range(100000))
    for _ in range(100):
        out.write(line)
PY

cases=("big -X2048 -Y2048 D2048.DAT" "many *.DAT" "rows ROWS.DAT")
for case in "${cases[@]}"; do
    read -r folder switches <<<"$case"
    for side in before after; do
        exe=$old
        [ "$side" = before ] || exe=$new
        mkdir -p "$side"
        # shellcheck disable=SC2086 # the switches and the pattern are words
        (cd "$folder" && rm -f ./*.gif && "$exe" -G $switches >/dev/null 2>&1 &&
            for gif in *.gif; do mv "$gif" "../$side/$folder-$gif"; done)
    done
done
for gif in before/*.gif; do
    cmp -s "$gif" "after/${gif#before/}" || fail "the builds' pictures differ: ${gif#before/}"
done
echo "# graygif before ($1) and after ($(git -C "$repo" rev-parse --short HEAD))"
echo
echo "Machine: $(nproc) usable processors, $(uname -m); $(date -u +%Y-%m-%d). New results every run."
for case in "${cases[@]}"; do
    read -r folder switches <<<"$case"
    echo
    echo "## $folder: $switches"
    echo
    (cd "$folder" && hyperfine --warmup 2 --runs 12 --prepare 'rm -f ./*.gif' --export-markdown ../t.md \
        -n "before -J1" "$old -G -J1 $switches" -n "after -J1" "$new -G -J1 $switches" \
        -n "before" "$old -G $switches" -n "after" "$new -G $switches" >/dev/null)
    cat t.md
done
echo
echo "| peak memory (max RSS) | before | after |"
echo "|---|---|---|"
for j in -J1 -J2 -J7 -J64 ""; do
    rss=()
    for exe in "$old" "$new"; do
        (cd big && /usr/bin/time -o ../rss.txt -f %M "$exe" -G -S $j -X2048 -Y2048 D2048.DAT >/dev/null 2>&1)
        rss+=("$(($(cat rss.txt) / 1024)) MiB")
    done
    echo "| 2048 x 2048 ${j:-default} | ${rss[0]} | ${rss[1]} |"
done
rss_rows=()
for exe in "$old" "$new"; do
    (cd rows && /usr/bin/time -o ../rss.txt -f %M "$exe" -G -S ROWS.DAT >/dev/null 2>&1)
    rss_rows+=("$(($(cat rss.txt) / 1024)) MiB")
done
echo "| 10 million rows, default | ${rss_rows[0]} | ${rss_rows[1]} |"
