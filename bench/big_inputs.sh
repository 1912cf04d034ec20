#!/usr/bin/env bash
# Big inputs, measured (not a test of CI's short suite): the release program on a data file of
# 10 million rows (and 1 million, to see that time grows with size), a single line of 100 MB of
# values, a single number of 100 MB of digits, and 100 MB of random bytes. Checks each exit code
# and message, and prints time and peak memory (GNU time, %M). Files go to build/big/.
#   bench/big_inputs.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/helpers.sh
scripts/install-deps.sh build bench
build_release >/dev/null
program="$PWD/build/release/graygif"
work=build/big
mkdir -p "$work"
cd "$work"

make_rows() { # rows file
    [ -f "$2" ] || awk -v n="$1" 'BEGIN { for (i = 0; i < n; i++) printf "%d %d.5 -%d\n", i % 1000, i % 37, i % 11 }' >"$2"
}
make_rows 1000000 ROWS1M.DAT
make_rows 10000000 ROWS10M.DAT
[ -f LINE.DAT ] || { head -c 100000000 /dev/zero | tr '\0' '7' | sed 's/77/7 /g'; echo; } >LINE.DAT
[ -f NUMBER.DAT ] || { head -c 100000000 /dev/zero | tr '\0' '3'; echo; } >NUMBER.DAT
[ -f RANDOM.DAT ] || head -c 100000000 /dev/urandom >RANDOM.DAT

failures=0
# name, expected exit code, a text the messages must hold
measure() {
    local name="$1" code="$2" expect="$3"
    rm -f ./*.gif logfile
    local size
    size=$(stat -c %s "$name")
    set +e
    /usr/bin/time -f "%e %M" -o time.txt "$program" -G "$name" >out.txt 2>err.txt
    local got=$?
    set -e
    read -r seconds kib < <(tail -n 1 time.txt) # after "Command exited with ..." if any
    local verdict=ok
    if [ "$got" -ne "$code" ] || ! grep -qF -- "$expect" err.txt; then
        verdict="UNEXPECTED (exit $got): $(tail -c 300 err.txt | tr -d '\b' | tr '\n' ' ')"
        failures=$((failures + 1))
    fi
    local megabytes rate # by awk: a minimal Debian has no bc
    read -r megabytes rate < <(awk -v size="$size" -v seconds="$seconds" \
        'BEGIN { printf "%.3f %.3f\n", size / 1e6, size / 1e6 / (seconds + 0.001) }')
    printf '%-12s %10.1f MB  exit %d  %7.2f s  %6.1f MB/s  peak RSS %6d KiB  %s\n' "$name" \
        "$megabytes" "$got" "$seconds" "$rate" "$kib" "$verdict"
}

echo "== big inputs ($(nproc) cores; release build)"
measure ROWS1M.DAT 0 "INFO: Data beyond the 256 x 256 picture was left out"
measure ROWS10M.DAT 0 "INFO: Data beyond the 256 x 256 picture was left out"
measure LINE.DAT 0 "INFO: Data beyond the 256 x 256 picture was left out"
measure NUMBER.DAT 0 "Creating file: NUMBER.gif"
measure RANDOM.DAT 5 "Data character error."
exit $((failures > 0))
