# shellcheck shell=bash
# The stage timer, sourced by CI and the test scripts: `stage NAME` ends the running stage,
# printing its seconds, and starts the next one; `stage` alone ends the last. `stage_summary`
# lists the time of every stage and the total. Headings start with "$stage_prefix: " if it is set.
stage_prefix=${stage_prefix:-}
stage_name=""
stage_times=()
stage_first=$(date +%s)
stage_start=$stage_first
stage() {
    local now
    now=$(date +%s)
    if [ -n "$stage_name" ]; then
        echo "-- ${stage_name}: $((now - stage_start)) s"
        stage_times+=("$(printf '%5d s  %s' $((now - stage_start)) "$stage_name")")
    fi
    stage_start=$now
    stage_name=${1:-}
    [ -z "$stage_name" ] || echo "== ${stage_prefix:+$stage_prefix: }$stage_name"
}
stage_summary() {
    echo "== stage times"
    printf '%s\n' "${stage_times[@]}"
    echo "total: $(($(date +%s) - stage_first)) s"
}
