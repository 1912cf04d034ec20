#!/usr/bin/env bash
# Cross-builds the program and its unit tests for Linux on 64-bit ARM and on IBM Z (s390x, which
# is big-endian) with Debian's cross compilers, runs the unit tests under qemu-user, converts the
# shipped examples and a few generated data files (one of 2048 x 2048 values) under qemu and
# compares every GIF byte for byte with the x86-64 build's. Neither target takes the x86-only
# vector branch of the LZW encoder; s390x reads numbers 8 bytes at a time with the bytes turned
# around from its own order.
#   scripts/cross-test.sh [aarch64|s390x ...]   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(aarch64 s390x)

stage_prefix=cross
source scripts/stages.sh
source scripts/helpers.sh

stage "install packages"
scripts/install-deps.sh build cross

stage "x86-64 program and data files"
build_release
reference="$root/build/release/graygif"
scratch=$(mktemp -d /tmp/graygif-cross-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
data="$scratch/data"
mkdir -p "$data"
cp examples/*.DAT "$data/"
# NOISE.DAT: 2048 x 2048 values without order, so that the LZW table fills and starts again.
awk 'BEGIN { s = 12345; for (r = 0; r < 2048; r++) { line = "";
    for (c = 0; c < 2048; c++) { s = (s * 1103515245 + 12345) % 2147483648;
        line = line (c ? " " : "") sprintf("%.7g", (s / 2147483648.0 - 0.5) * 1e3) }
    print line } }' >"$data/NOISE.DAT"
# PLANE.DAT: 2048 x 2048 values of a smooth ramp: long runs of one gray level.
awk 'BEGIN { for (r = 0; r < 2048; r++) { line = "";
    for (c = 0; c < 2048; c++) line = line (c ? "," : "") int((r + c) / 16)
    print line } }' >"$data/PLANE.DAT"
# LIMITS.DAT: numbers that take the slow road (long digit runs, ties, the ends of the single
# precision range, subnormals, signed zeros, text after a value), comments and CR LF line ends.
awk 'BEGIN { long = "1.000000059604644775390625"; for (i = 0; i < 80; i++) long = long "0000000000"
    n = split("3.4028235e38 -3.4028235e38 1.4e-45 -7.1e-46 -0 0.000e-99 1.17549435e-38 1e-40 " \
              "16777217 33554434.000001 123456789012345678901234567890 .5e+2 -7.25E-3 2.5E-3e7",
              values, " ")
    values[++n] = long; values[++n] = long "1"
    printf "# the ends of the range\r\n"
    for (r = 0; r < 37; r++) { line = ""
        for (c = 0; c < 41; c++) line = line (c ? "\t" : "") values[(r * 7 + c * 3) % n + 1]
        printf "%s\r\n", line }
}' >"$data/LIMITS.DAT"

# name|switches: every case is converted with both builds.
cases=("WAVES.DAT|-X160 -Y120" "RINGS.DAT|-X96 -Y96" "SERIES.DAT|-R -X48 -Y200"
    "NOISE.DAT|-X2048 -Y2048" "PLANE.DAT|-R -X2048 -Y2048" "LIMITS.DAT|-X41 -Y37"
    "LIMITS.DAT|-R -X37 -Y41")

# Converts every case in folder $1 with the program "$2..." and keeps each GIF as <n>.gif.
convert_all() {
    local dir=$1 n=0 entry name switches code
    shift
    for entry in "${cases[@]}"; do
        name=${entry%%|*}
        switches=${entry#*|}
        code=0
        # shellcheck disable=SC2086 # the switches are separate words
        (cd "$dir" && "$@" -S -G $switches "$name" >"out-$n.txt" 2>&1) || code=$?
        [ "$code" = 0 ] || fail "$name $switches: exit code $code; $(cat "$dir/out-$n.txt")"
        mv "$dir/${name%%.*}.gif" "$dir/$n.gif"
        n=$((n + 1))
    done
}
mkdir "$scratch/x86_64"
cp "$data"/*.DAT "$scratch/x86_64/"
convert_all "$scratch/x86_64" "$reference"

for target in "${targets[@]}"; do
    case "$target" in
    aarch64 | s390x) qemu="qemu-$target" ;;
    *) fail "unknown target '$target'" ;;
    esac

    stage "$target: build (preset $target)"
    cmake --preset "$target" >/dev/null
    cmake --build --preset "$target"
    program="$root/build/$target/graygif"
    file "$program" | grep -q 'statically linked' || fail "$program is not linked statically"

    stage "$target: unit tests under $qemu"
    ctest --preset "$target" -j "$(nproc)"

    stage "$target: conversions under $qemu, compared with x86-64"
    mkdir "$scratch/$target"
    cp "$data"/*.DAT "$scratch/$target/"
    convert_all "$scratch/$target" "$qemu" "$program"
    for n in $(seq 0 $((${#cases[@]} - 1))); do
        cmp "$scratch/x86_64/$n.gif" "$scratch/$target/$n.gif" ||
            fail "$target: ${cases[$n]}: the GIF differs from the x86-64 build's"
        echo "${cases[$n]}: equal ($(stat -c %s "$scratch/$target/$n.gif") bytes)"
    done
done

stage
