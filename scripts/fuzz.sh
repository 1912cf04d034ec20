#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for the given number of seconds (default 30), starting from its saved corpus in
# fuzz/corpus/<target>/. New inputs go to build/fuzz/corpus/<target>/ (not committed); a finding
# is saved under build/fuzz/findings/ and fails the script. Prints the executions per target.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(data_row_reader command_line conversion lzw)

scripts/install-deps.sh build test fuzz
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DGRAYGIF_SANITIZE=ON -DGRAYGIF_FUZZ=ON >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/findings"
summary=()
status=0
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    max_len=4096
    case "$target" in conversion | lzw) max_len=65536 ;; esac
    log="$build/$target.log"
    echo "== fuzz_$target for $seconds s"
    if "$build/fuzz/fuzz_$target" "$corpus" "fuzz/corpus/$target" -max_total_time="$seconds" \
        -max_len="$max_len" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" >"$log" 2>&1; then
        result="no finding"
    else
        result="FINDING (see $log)"
        status=1
        tail -n 40 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    summary+=("$(printf '%-16s %12s executions  %s' "$target" "${runs:-?}" "$result")")
done
printf '%s\n' "== fuzz summary (${seconds} s per target)" "${summary[@]}"
exit $status
