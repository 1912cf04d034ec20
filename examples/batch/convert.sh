#!/bin/bash
# Converts many data files on this machine, or on several machines reached with ssh:
#   convert.sh xargs DATA            a run per data file of the folder DATA, a run per core
#   convert.sh parallel DATA JOBLOG  the same with GNU parallel; JOBLOG lists every run's exit code
#   convert.sh ssh NODES PARTS [OUT] a run per part directory of PARTS (made by split-parts.sh) on
#                                    the machines listed in the file NODES, which all see PARTS;
#                                    with OUT (seen by all of them too) the pictures and run logs go
#                                    to OUT/part-NNNNN, for parts that may not be written to
# The exit code is xargs' or parallel's: 0 when every run converted all its files.
set -euo pipefail
case "${1:-} $#" in
"xargs 2")
    data=$2
    find "$data" -iname '*.dat' -print0 | xargs -0 -n 1 -P "$(nproc)" graygif -S -X512 -Y512
    ;;
"parallel 3")
    data=$2 joblog=$3
    find "$data" -iname '*.dat' -print0 | parallel -0 --joblog "$joblog" graygif -S -X512 -Y512
    ;;
"ssh 3")
    nodes=$2 parts=$(realpath "$3")
    parallel --sshloginfile "$nodes" 'cd {} && graygif -S -X512 -Y512 "*.DAT"' ::: "$parts"/part-*/
    ;;
"ssh 4")
    nodes=$2 parts=$(realpath "$3") out=$(realpath -m "$4")
    run='mkdir -p {2}/{1/} && cd {2}/{1/} && graygif -S -X512 -Y512 --output-dir=. {1}/"*.DAT"'
    parallel --sshloginfile "$nodes" "$run" ::: "$parts"/part-* ::: "$out"
    ;;
*)
    sed -n '3,8s/^# //p' "$0" >&2
    exit 2
    ;;
esac
