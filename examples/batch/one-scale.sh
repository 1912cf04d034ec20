#!/bin/bash
# Draws every part directory of PARTS (made by split-parts.sh) on one gray scale with Slurm: a job
# array prints the limits of each part, a job that starts when all of them ended well reduces them
# to one range, and a second array draws every part over it (the steps of one-scale.sbatch). A
# step that fails cancels the steps after it.
#   one-scale.sh PARTS [SBATCH OPTIONS]   e.g. one-scale.sh "$PWD/parts" --wait
# Prints the job id of the drawing array; with --wait its exit code is that array's.
set -euo pipefail
if [ $# -lt 1 ]; then
    sed -n '6s/^# //p' "$0" >&2
    exit 2
fi
parts=$(realpath "$1")
shift
steps=$(dirname "$(realpath "$0")")/one-scale.sbatch
count=$(find "$parts" -mindepth 1 -maxdepth 1 -type d -name 'part-*' | wc -l)
array=--array=0-$((count - 1))
limits=$(sbatch --parsable "$array" "$steps" limits "$parts")
reduce=$(sbatch --parsable --kill-on-invalid-dep=yes --dependency="afterok:${limits%;*}" \
    "$steps" reduce "$parts")
sbatch --parsable --kill-on-invalid-dep=yes --dependency="afterok:${reduce%;*}" "$array" "$@" \
    "$steps" draw "$parts"
