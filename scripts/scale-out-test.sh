#!/usr/bin/env bash
# Runs the README's recipes for many files, from examples/batch, on a few hundred generated data
# files of two row widths: the Slurm job array on a one-node cluster started here (munged,
# slurmctld and slurmd, as root, without systemd), xargs -P, GNU parallel with --joblog and GNU
# parallel --sshloginfile with this machine (":") as the only node; and the "one scale" path
# (one-scale.sh) on the same cluster. Every picture must equal the one a plain local run writes
# (a local -U run's for the one-scale path), every run must exit with 0, and a bad data file must
# fail its own run (exit 5) and no other; read-only part directories are converted into an output
# folder (convert.sbatch PARTS OUT). Also checks that the README quotes the recipes as shipped.
# Needs root; every daemon started here is stopped again by its process id, also on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
recipes=$root/examples/batch

stage_prefix=scale-out
source scripts/stages.sh
source scripts/helpers.sh

stage "install packages, release build"
[ "$(id -u)" -eq 0 ] || fail "run as root: slurmd starts the jobs, munged runs as the munge user"
scripts/install-deps.sh build scaleout
build_release
export PATH="$root/build/release:$PATH"

stage "the README quotes the shipped recipes"
readme=$(<README.md)
[[ $readme == *"$(sed 's/^/    /' "$recipes/convert.sbatch")"* ]] ||
    fail "README.md does not show examples/batch/convert.sbatch as it is"
while IFS= read -r line; do
    [[ $readme == *$'\n'"    ${line#"${line%%[! ]*}"}"$'\n'* ]] ||
        fail "README.md does not show this line of examples/batch/convert.sh: $line"
done < <(grep 'graygif -S' "$recipes/convert.sh"; grep '^ *graygif -' "$recipes/one-scale.sbatch")
echo "README: convert.sbatch and the lines of convert.sh and one-scale.sbatch as shipped"

scratch=$(mktemp -d /tmp/graygif-scale-out-XXXXXX)
chmod 755 "$scratch" # munged, running as munge, reaches its folder inside
pids=()              # daemons started here, in the order they were started
stop_daemons() {
    local i pid
    if [ ${#pids[@]} -gt 0 ] && kill -0 "${pids[-1]}" 2>/dev/null; then
        # Jobs left by a failure (all of this cluster's are ours) end before their slurmd.
        scancel --quiet --user=root 2>/dev/null || true
        for _ in $(seq 20); do
            [ -n "$(timeout 5 squeue -h -o %i 2>/dev/null)" ] || break
            sleep 0.5
        done
    fi
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    pids=()
}
cleanup() {
    stop_daemons
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

stage "data files and the pictures of plain local runs"
# 240 files, F0001 to F0240: odd numbers 24 values a row, even ones 40, so that neighbours in name
# order differ in width. Every 10th has a lower-case name, every 25th a second dot: the picture is
# named after the part before the first dot, in upper case.
data=$scratch/data
reference=$scratch/reference
mkdir -p "$data" "$reference/narrow" "$reference/wide"
awk -v ref="$reference" 'BEGIN {
    for (f = 1; f <= 240; f++) {
        name = sprintf("F%04d", f)
        name = f % 25 == 0 ? name ".run2.dat" : f % 10 == 0 ? tolower(name) ".dat" : name ".DAT"
        path = ref "/" (f % 2 ? "narrow" : "wide") "/" name
        width = f % 2 ? 24 : 40
        for (r = 0; r < 12 + f % 7; r++) {
            line = ""
            for (c = 0; c < width; c++)
                line = line (c ? " " : "") ((r + 1) * (c + 3) * (f + 7)) % 251 - 100
            print line >path
        }
        close(path)
    }
}'
files=240
picture_name() { # the picture of the data file $1: the name up to its first dot, in upper case
    local name=${1##*/}
    name=${name%%.*}
    echo "${1%/*}/${name^^}.gif"
}
for width in narrow wide; do
    (cd "$reference/$width" && graygif -G -S -X512 -Y512 "*.DAT" >/dev/null 2>&1) ||
        fail "plain local run over the $width files"
    for file in "$reference/$width"/*.[Dd][Aa][Tt]; do
        picture=$(picture_name "$file")
        [ -f "$picture" ] || fail "the plain local run wrote no $picture"
        mv "$picture" "$reference/"
    done
    cp "$reference/$width"/* "$data/"
done
cd "$scratch" # the recipes' runs write their run logs into the current folder

# DIR COUNT [SKIP [REFERENCE]]: COUNT data files under DIR, each beside a picture equal to the
# plain run's (or to the one in the folder REFERENCE), except those whose path begins with SKIP;
# without SKIP no other pictures.
check_pictures() {
    local dir=$1 count=$2 skip=${3:-} pictures=${4:-$reference} file picture found=0 gifs
    while IFS= read -r -d '' file; do
        found=$((found + 1))
        [ -z "$skip" ] || [[ $file != "$skip"* ]] || continue
        picture=$(picture_name "$file")
        [ -f "$picture" ] || fail "no picture $picture"
        cmp -s "$picture" "$pictures/${picture##*/}" || fail "$picture: not the local run's"
    done < <(find "$dir" -iname '*.dat' -print0)
    [ "$found" -eq "$count" ] || fail "$found data files under $dir, expected $count"
    gifs=$(find "$dir" -name '*.gif' | wc -l)
    [ -n "$skip" ] || [ "$gifs" -eq "$count" ] || fail "$gifs pictures under $dir for $count files"
}

stage "one-node Slurm cluster"
node=$(hostname -s)
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=0
for _ in $(seq 20); do
    candidate=$((20000 + RANDOM % 20000))
    if port_free "$candidate" && port_free $((candidate + 1)); then
        port=$candidate
        break
    fi
done
[ "$port" -ne 0 ] || fail "no two free TCP ports on 127.0.0.1"
slurm=$scratch/slurm
mkdir -p "$slurm/state" "$slurm/spool" "$scratch/munge"
chown munge:munge "$scratch/munge"
key=$scratch/munge/munge.key socket=$scratch/munge/socket
setpriv --reuid=munge --regid=munge --init-groups mungekey --create --keyfile="$key"
export SLURM_CONF=$slurm/slurm.conf
# The node's processors as slurmd finds them; its memory is left out, so that nothing is held back.
# batch_sched_delay=0: a submitted job starts at once instead of up to 3 s later, which keeps the
# array's end well before sbatch --wait's second look at it.
cat >"$SLURM_CONF" <<EOF
ClusterName=graygif
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$slurm/state
SlurmdSpoolDir=$slurm/spool
SlurmctldPidFile=$slurm/slurmctld.pid
SlurmdPidFile=$slurm/slurmd.pid
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
MailProg=/bin/true
ReturnToService=2
SchedulerParameters=batch_sched_delay=0
NodeName=$node NodeAddr=127.0.0.1 $(slurmd -C | sed -n '1{s/^[^ ]* //; s/ RealMemory=[0-9]*//; p}')
PartitionName=ci Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
show_logs() {
    local log
    for log in "$scratch"/*.log; do
        echo "---- $log"
        tail -n 40 "$log"
    done >&2
}
# Each daemon in a session of its own, so that a Ctrl-C reaches only this script, whose trap stops
# them after the jobs (setsid execs the daemon: $! is the daemon's own process id).
setsid setpriv --reuid=munge --regid=munge --init-groups munged --foreground --key-file="$key" \
    --socket="$socket" --pid-file="$scratch/munge/munged.pid" --seed-file="$scratch/munge/seed" \
    >"$scratch/munged.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    if [ -S "$socket" ] || ! kill -0 "${pids[-1]}" 2>/dev/null; then break; fi
    sleep 0.1
done
munge -n -S "$socket" | unmunge -S "$socket" >/dev/null ||
    { show_logs; fail "munged does not answer"; }
setsid slurmctld -D >"$scratch/slurmctld.log" 2>&1 &
pids+=($!)
setsid slurmd -D -N "$node" >"$scratch/slurmd.log" 2>&1 &
pids+=($!)
# A client retries an absent controller for several seconds: stop waiting as soon as a daemon ends.
state="" deadline=$(($(date +%s) + 30))
while [ "$state" != idle ]; do
    for pid in "${pids[@]}"; do
        kill -0 "$pid" 2>/dev/null || { show_logs; fail "a daemon ended (process $pid)"; }
    done
    [ "$(date +%s)" -lt "$deadline" ] ||
        { show_logs; fail "node $node is '$state' after 30 s, not idle"; }
    sleep 0.5
    state=$(timeout 10 sinfo -h -n "$node" -o %t 2>/dev/null) || true
done
echo "Slurm $(sinfo -V | cut -d' ' -f2): node $node idle, $(sinfo -h -n "$node" -o %c) processors"

stage "Slurm job array over part directories (split-parts.sh, convert.sbatch)"
parts=$scratch/parts
cp -r "$data" "$scratch/all"
"$recipes/split-parts.sh" "$scratch/all" "$parts" 60
count=$(find "$parts" -mindepth 1 -maxdepth 1 -name 'part-*' | wc -l)
[ "$count" -eq 4 ] || fail "$count part directories, expected 4 (two widths, 60 files a part)"
# EXPECTED: submits the array, which must end with EXPECTED, and writes "TASK CODE SIGNAL" for
# each task to $scratch/tasks, from the tasks' records in slurmctld (no accounting database here;
# they are kept for MinJobAge, 300 s by default).
submit() {
    local expected=$1 rc=0 start last_end
    start=$(date +%s)
    # sbatch --wait retries an absent controller for ever: a time-out, so that a crash fails.
    job=$(timeout 120 sbatch --parsable --wait --array=0-$((count - 1)) "$recipes/convert.sbatch" \
        "$parts") || rc=$?
    [ "$rc" -eq "$expected" ] ||
        { tail -n 5 "$scratch"/slurm-*.out >&2; fail "sbatch --wait: exit $rc, not $expected"; }
    scontrol -o show job "$job" >"$scratch/job"
    sed -n 's/.* ArrayTaskId=\([0-9]*\) .* ExitCode=\([0-9]*\):\([0-9]*\) .*/\1 \2 \3/p' \
        "$scratch/job" | sort -n >"$scratch/tasks"
    [ "$(wc -l <"$scratch/tasks")" -eq "$count" ] ||
        fail "$(wc -l <"$scratch/tasks") tasks of job $job, expected $count"
    # sbatch --wait looks 2, 10, 42, 74 s after the submission: show how close the tasks came.
    last_end=$(sed 's/.* EndTime=\([^ ]*\) .*/\1/' "$scratch/job" | sort | tail -n 1)
    echo "job $job: last task ended after $(($(date -d "$last_end" +%s) - start)) s," \
        "sbatch --wait after $(($(date +%s) - start)) s"
}
submit 0
while read -r task code signal; do
    [ "$code:$signal" = 0:0 ] || fail "task $task: exit code $code:$signal"
done <"$scratch/tasks"
check_pictures "$parts" "$files"
echo "job array of $count tasks: every exit code 0, $files pictures equal"
# A file 40 values wide among 24 wide ones is a bad data file to that part's run.
bad=$(printf '%s/part-%05d' "$parts" 1)
cp "$reference/wide/F0002.DAT" "$bad/ZZ.DAT"
submit 5
while read -r task code signal; do
    expected=0
    [ "$task" -ne 1 ] || expected=5
    [ "$code:$signal" = "$expected:0" ] ||
        fail "task $task: exit code $code:$signal, expected $expected"
done <"$scratch/tasks"
grep -q 'ZZ\.DAT' "$scratch/slurm-${job}_1.out" || fail "task 1 does not name ZZ.DAT as bad"
check_pictures "$parts" $((files + 1)) "$bad/"
echo "a part with a file of the other width: its task exits with 5, the other $((count - 1)) with 0"

stage "Slurm job array over read-only part directories (convert.sbatch PARTS OUT)"
# Data that the runs may not write to, as on an archive: the tasks run as user nobody (root writes
# anywhere), with a copy of the program and the recipe that nobody can reach, and write their
# pictures and run logs to OUT/part-NNNNN.
ro_parts=$scratch/ro-parts ro_out=$scratch/ro-out bin=$scratch/bin
cp -r "$data" "$scratch/ro-all"
"$recipes/split-parts.sh" "$scratch/ro-all" "$ro_parts" 60 >/dev/null
chmod -R a-w "$ro_parts"
mkdir -p "$bin" "$ro_out"
cp "$root/build/release/graygif" "$recipes/convert.sbatch" "$bin/"
chmod -R a+rX "$bin"
chown nobody:nogroup "$ro_out"
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
rc=0
(cd "$scratch" && PATH="$bin:$PATH" SLURM_ARRAY_TASK_ID=0 "${as_nobody[@]}" \
    bash "$bin/convert.sbatch" "$ro_parts" >"$scratch/ro-beside.out" 2>&1) || rc=$?
[ "$rc" -eq 4 ] ||
    { tail -n 5 "$scratch/ro-beside.out" >&2; fail "a run beside read-only data: exit $rc, not 4"; }
grep -q "Can't create GIF output file" "$scratch/ro-beside.out" ||
    fail "a run beside read-only data does not tell the picture it cannot create"
rc=0
timeout 120 sbatch --parsable --wait --array=0-$((count - 1)) --output="$scratch/ro-%A_%a.out" \
    --wrap="PATH=$bin:\$PATH ${as_nobody[*]} bash $bin/convert.sbatch $ro_parts $ro_out" \
    >/dev/null || rc=$?
[ "$rc" -eq 0 ] ||
    { tail -n 5 "$scratch"/ro-*.out >&2; fail "sbatch --wait over read-only parts: exit $rc"; }
[ -z "$(find "$ro_parts" -name '*.gif')" ] || fail "a picture beside the read-only data"
found=0
while IFS= read -r -d '' file; do
    found=$((found + 1))
    part=${file%/*} picture=$(picture_name "$file")
    picture=$ro_out/${part##*/}/${picture##*/}
    cmp -s "$picture" "$reference/${picture##*/}" || fail "$picture: missing or not the local run's"
done < <(find "$ro_parts" -iname '*.dat' -print0)
[ "$found" -eq "$files" ] || fail "$found data files under $ro_parts, expected $files"
[ "$(find "$ro_out" -name logfile | wc -l)" -eq "$count" ] || fail "not a run log in every OUT part"
echo "read-only parts: a run beside them exits with 4; $count tasks as nobody wrote $files" \
    "pictures equal to the local run's into OUT"

stage "Slurm one scale over part directories (one-scale.sh, one-scale.sbatch)"
# The parts hold files of two widths, which one -U run takes only with -A: set in the environment,
# which sbatch passes on to the tasks, it applies to every run of the path and to the local one.
one=$scratch/one-scale
mkdir -p "$one/local"
cp -r "$data" "$one/all"
# A high value in a narrow file and a low one in a wide file: the parts' limits differ, and the
# run's lie beyond those of every other file.
awk 'BEGIN { for (c = 1; c < 24; c++) printf "0 "; print 1000 }' >>"$one/all/F0001.DAT"
awk 'BEGIN { for (c = 1; c < 40; c++) printf "0 "; print -500 }' >>"$one/all/F0002.DAT"
cp "$one/all"/* "$one/local/"
(cd "$one/local" && GRAYGIF=A graygif -G -S -U -X512 -Y512 "*.DAT" >/dev/null 2>&1) ||
    fail "local -U run over all files"
"$recipes/split-parts.sh" "$one/all" "$one/parts" 60 >/dev/null
rc=0
# sbatch --wait of the drawing array, which waits for the other two steps.
job=$(GRAYGIF=A timeout 300 "$recipes/one-scale.sh" "$one/parts" --wait) || rc=$?
[ "$rc" -eq 0 ] || { tail -n 5 "$scratch"/slurm-*.out >&2; fail "one-scale.sh --wait: exit $rc"; }
[ "$(find "$one/parts" -maxdepth 1 -name 'part-*.limits' | wc -l)" -eq "$count" ] ||
    fail "not every part's limits in $one/parts"
echo "one range for $count parts: $(<"$one/parts/range")"
[ "$(<"$one/parts/range")" = -500:1000 ] || fail "the range $(<"$one/parts/range"), not -500:1000"
local_pictures=$(find "$one/local" -name '*.gif' | wc -l)
[ "$local_pictures" -eq "$files" ] || fail "$local_pictures pictures of the local -U run"
check_pictures "$one/parts" "$files" "" "$one/local"
echo "one scale, job array $job after the limits and their reduction: $files pictures equal" \
    "to one local -U run's"
stop_daemons

stage "GNU parallel --sshloginfile with this machine as the only node (convert.sh ssh)"
echo ":" >"$scratch/nodes.txt"
ssh_recipe() { # EXPECTED: runs the recipe, which must exit with EXPECTED (the failed runs)
    local rc=0
    "$recipes/convert.sh" ssh "$scratch/nodes.txt" "$parts" >"$scratch/ssh.out" 2>&1 || rc=$?
    [ "$rc" -eq "$1" ] || { tail -n 20 "$scratch/ssh.out" >&2; fail "parallel: exit $rc, not $1"; }
}
ssh_recipe 1
rm "$bad/ZZ.DAT" "$parts"/*/*.gif
ssh_recipe 0
check_pictures "$parts" "$files"
echo "parallel over $count parts: exit 1 with a bad part, else 0 and $files pictures equal"

stage "xargs -P (convert.sh xargs)"
cp -r "$data" "$scratch/xargs"
"$recipes/convert.sh" xargs "$scratch/xargs" >/dev/null 2>&1 || fail "xargs: exit $?"
check_pictures "$scratch/xargs" "$files"
printf '1 2 3\n4 five 6\n' >"$scratch/xargs/BAD.DAT"
rm "$scratch/xargs"/*.gif
rc=0
"$recipes/convert.sh" xargs "$scratch/xargs" >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 123 ] || fail "xargs with a bad file: exit $rc, expected 123"
[ ! -e "$scratch/xargs/BAD.gif" ] || fail "a picture of the bad file"
check_pictures "$scratch/xargs" $((files + 1)) "$scratch/xargs/BAD.DAT"
echo "xargs: exit 0 and $files pictures equal; 123 with a bad file, the other pictures equal"

stage "GNU parallel --joblog (convert.sh parallel)"
cp -r "$data" "$scratch/parallel"
printf '1 2 3\n4 five 6\n' >"$scratch/parallel/BAD.DAT"
rc=0
"$recipes/convert.sh" parallel "$scratch/parallel" "$scratch/convert.jobs" >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 1 ] || fail "parallel with a bad file: exit $rc, expected 1 (one failed run)"
awk -F '\t' 'NR > 1 { print $7, $NF }' "$scratch/convert.jobs" >"$scratch/runs"
[ "$(wc -l <"$scratch/runs")" -eq $((files + 1)) ] ||
    fail "$(wc -l <"$scratch/runs") runs in the job log, expected $((files + 1))"
while read -r code command; do
    expected=0
    [[ $command != */BAD.DAT ]] || expected=5
    [ "$code" -eq "$expected" ] || fail "job log: exit code $code for $command, expected $expected"
done <"$scratch/runs"
check_pictures "$scratch/parallel" $((files + 1)) "$scratch/parallel/BAD.DAT"
echo "parallel: every run 0 in the job log, the bad file's 5; $files pictures equal"

stage
