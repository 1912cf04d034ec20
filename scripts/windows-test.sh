#!/usr/bin/env bash
# Cross-builds the Windows console program and its tests (preset "windows", MinGW-w64), runs the
# test suite under Wine, then runs end-to-end cases under Wine: the usage text, one conversion
# compared byte for byte with the Linux build, a quoted and an unquoted wildcard argument, and
# results with -S: a writable one replaced, a read-only one and a second name of the data file
# kept.
# Wine runs in a fresh prefix in a temporary folder that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

stage_prefix=windows
source scripts/stages.sh
source scripts/helpers.sh

stage "install packages"
scripts/install-deps.sh build windows

stage "start Wine"
scratch=$(mktemp -d /tmp/graygif-windows-XXXXXX)
export WINEPREFIX="$scratch/wineprefix" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$WINEPREFIX"
wineserver -p # stays up until the clean-up: every wine start after this one is quick
wineboot -i >/dev/null 2>&1

stage "build (preset windows, and preset release for the Linux program to compare with)"
cmake --preset windows >/dev/null
cmake --build --preset windows
build_release
linux_program="$root/build/release/graygif"

stage "tests under Wine"
ctest --test-dir build/windows --output-on-failure --no-tests=error -j 2

stage "end-to-end under Wine"
exe="$root/build/windows/graygif.exe"

# Runs graygif.exe in folder $1 with the raw command line "graygif.exe $2" through a batch file,
# so that cmd passes the line on exactly as written (quotes included). Its standard output and
# error go to $1/out.txt and $1/err.txt, away from Wine's own messages; prints the exit code.
run_windows() {
    cp "$exe" "$1/graygif.exe"
    printf '@graygif.exe %s >out.txt 2>err.txt\r\n@exit /b %%errorlevel%%\r\n' "$2" >"$1/run.bat"
    local code=0
    (cd "$1" && wine cmd /c run.bat >/dev/null 2>&1) || code=$?
    rm -f "$1/graygif.exe" "$1/run.bat"
    echo "$code"
}

# Runs the Linux build started under the name "graygif", as the Windows one is.
run_linux() { (exec -a graygif "$linux_program" "$@"); }

# 1. No data file: the usage text, exit code 1, the same bytes as the Linux build prints.
usage_dir="$scratch/usage" && mkdir "$usage_dir"
code=$(run_windows "$usage_dir" "")
[ "$code" = 1 ] || fail "usage: exit code $code, expected 1"
linux_code=0
(cd "$usage_dir" && run_linux >linux-out.txt 2>linux-err.txt) || linux_code=$?
[ "$linux_code" = 1 ] || fail "usage: the Linux build exits with $linux_code"
grep -q "At least one filename must be given" "$usage_dir/err.txt" || fail "usage: no usage text"
cmp "$usage_dir/out.txt" "$usage_dir/linux-out.txt" || fail "usage: standard output differs"
cmp "$usage_dir/err.txt" "$usage_dir/linux-err.txt" || fail "usage: standard error differs"
echo "usage text: ok"

# 2. One conversion: the GIF bytes equal those of the Linux build.
make_data() {
    mkdir -p "$1"
    awk 'BEGIN { for (r = 0; r < 23; ++r) { line = "";
        for (c = 0; c < 37; ++c) line = line sprintf(" %.3f", (r * 37 + c * c) % 101 - 17.5);
        print line } }' >"$1/WAVE.DAT"
}
make_data "$scratch/convert-windows"
make_data "$scratch/convert-linux"
code=$(run_windows "$scratch/convert-windows" "-X37 -Y23 -G WAVE.DAT")
[ "$code" = 0 ] || fail "conversion: exit code $code; $(cat "$scratch/convert-windows/err.txt")"
(cd "$scratch/convert-linux" && run_linux -X37 -Y23 -G WAVE.DAT >/dev/null 2>&1) ||
    fail "conversion: the Linux build failed"
windows_gif=$(find "$scratch/convert-windows" -maxdepth 1 -iname 'wave.gif')
linux_gif=$(find "$scratch/convert-linux" -maxdepth 1 -iname 'wave.gif')
[[ -n "$windows_gif" && -n "$linux_gif" ]] || fail "conversion: no WAVE.gif written"
cmp "$windows_gif" "$linux_gif" || fail "conversion: the GIF files differ"
echo "conversion: ok ($(stat -c %s "$windows_gif") bytes, equal to the Linux build's)"

# 3. Wildcards: an unquoted pattern is expanded (the log lists the sorted matches), a
# quoted one is left alone and then names no data file that can be opened.
last_log_line() { tail -n 1 "$scratch/wildcards/logfile" | tr -d "\r"; }
make_data "$scratch/wildcards"
cp "$scratch/wildcards/WAVE.DAT" "$scratch/wildcards/b.dat"
code=$(run_windows "$scratch/wildcards" "-X37 -Y23 *.dat")
[ "$code" = 0 ] || fail "unquoted *.dat: exit code $code"
last_log_line | grep -q ' -X37 -Y23 B.DAT WAVE.DAT$' ||
    fail "unquoted *.dat: log entry $(last_log_line)"
code=$(run_windows "$scratch/wildcards" '-X37 -Y23 "*.dat"')
[ "$code" = 4 ] || fail "quoted *.dat: exit code $code, expected 4"
last_log_line | grep -q ' -X37 -Y23 \*\.DAT$' ||
    fail "quoted *.dat: log entry $(last_log_line)"
echo "wildcards: ok (unquoted expanded, quoted left alone)"

# 4. Results: with -S a writable result is replaced; a read-only one is not, nor one that is the
# data file under a second name (a hard link): exit code 4; nothing is left behind.
results="$scratch/results"
make_data "$results"
cp "$results/WAVE.DAT" "$results/B.DAT"
cp "$results/WAVE.DAT" "$results/C.DAT"
printf 'old' >"$results/WAVE.gif"
printf 'old' >"$results/B.gif"
chmod 444 "$results/B.gif" # the read-only attribute under Wine
ln "$results/C.DAT" "$results/C.gif"
code=$(run_windows "$results" "-X37 -Y23 -G -S B.DAT C.DAT WAVE.DAT")
[ "$code" = 4 ] || fail "results: exit code $code, expected 4"
for result in B C; do
    grep -q "PANIC: Can't create GIF output file: $result.gif" "$results/err.txt" ||
        fail "$result.gif: $(cat "$results/err.txt")"
done
grep -q '^INFO: The folder \. cannot take the picture: it would replace the data file\.$' \
    "$results/err.txt" || fail "C.gif: no reason given: $(cat "$results/err.txt")"
[ "$(cat "$results/B.gif")" = old ] || fail "read-only result: replaced"
cmp -s "$results/C.DAT" "$results/WAVE.DAT" || fail "result linked to its data file: data replaced"
cmp -s "$results/WAVE.gif" "$linux_gif" || fail "writable result: not replaced"
leftover=$(find "$results" -name '*.tmp')
[ -z "$leftover" ] || fail "results: temporary file left: $leftover"
echo "results: ok (writable replaced; read-only and the data file's second name kept)"

stage "ZIP package (cpack preset windows-zip)"
rm -f build/windows/graygif-*.zip
cpack --preset windows-zip >/dev/null
zip_files=$(cmake -E tar tf build/windows/graygif-*.zip | sed 's|^[^/]*/||' | LC_ALL=C sort | tr '\n' ' ')
[ "$zip_files" = "LICENSE README.md graygif.exe " ] || fail "the ZIP holds: $zip_files"
echo "$(basename build/windows/graygif-*.zip): $zip_files"

stage
