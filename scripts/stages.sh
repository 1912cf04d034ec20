# Sourced by the test scripts: `stage NAME` ends the running stage, printing its seconds, and
# starts the next one ("done" starts none). Set stage_prefix before the first call.
stage_start=$(date +%s)
stage() {
    local now
    now=$(date +%s)
    [ -z "${stage_name:-}" ] || echo "-- ${stage_name}: $((now - stage_start)) s"
    stage_start=$now
    stage_name=$1
    [ "$1" = done ] || echo "== ${stage_prefix}: $1"
}
