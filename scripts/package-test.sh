#!/usr/bin/env bash
# Builds the Debian package (cpack preset "deb", from the release build), checks it with lintian
# (any error or warning fails), installs it with apt-get, converts a shipped example with the
# graygif found on the PATH (the picture must equal the README's), checks that man finds the page
# and shows the version, that the README, licence and shell completions are in place, and removes
# the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source scripts/helpers.sh
scripts/install-deps.sh build package
# The program as packaged builds without a warning, the checks of its hardening flags included
# (_FORTIFY_SOURCE): built afresh, as a build that is up to date shows none.
cmake --preset release >/dev/null
cmake --build --preset release --clean-first 2>&1 | tee build/release/build.log
! grep -q 'warning:' build/release/build.log || fail "the release build warns: see build/release/build.log"
rm -f build/release/graygif_*.deb
cpack --preset deb

shopt -s nullglob
debs=(build/release/graygif_*.deb)
[ ${#debs[@]} = 1 ] || fail "expected one build/release/graygif_*.deb, found ${#debs[@]}"
deb=${debs[0]}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
[ "$(basename "$deb")" = "graygif_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "package name $(basename "$deb")"
echo "package: $(basename "$deb"), depends on: $(dpkg-deb -f "$deb" Depends)"

# Notes (I:) are shown but pass. lintian warns when it runs as root, as CI does.
lintian --display-info --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2) ||
    fail "lintian: errors or warnings"
echo "lintian: no error, no warning"

scratch=$(mktemp -d /tmp/graygif-package-XXXXXX)
installed() { dpkg-query -W -f='${Status}' graygif 2>/dev/null | grep -q 'install ok installed'; }
remove() { apt_get remove -y -qq graygif >/dev/null 2>&1; }
cleanup() {
    if installed; then remove || true; fi
    rm -rf "$scratch"
}
trap cleanup EXIT
if ! apt_get install -y -qq "./$deb" >"$scratch/apt.log" 2>&1; then
    cat "$scratch/apt.log"
    fail "apt-get install ./$deb"
fi
installed || fail "the package is not installed"

hash -r
[ "$(command -v graygif)" = /usr/bin/graygif ] || fail "graygif on the PATH: $(command -v graygif)"
cp examples/WAVES.DAT "$scratch/"
(cd "$scratch" && graygif -G -X160 -Y120 WAVES.DAT >/dev/null 2>&1) || fail "graygif failed"
cmp "$scratch/WAVES.gif" "$root/docs/images/WAVES.gif" || fail "WAVES.gif differs from the README's"
echo "graygif from the PATH: WAVES.gif equal to docs/images/WAVES.gif"
page=$(man -w graygif) || fail "man does not find the page"
man graygif 2>/dev/null | tail -n 1 | grep -q "graygif $version " ||
    fail "the man page does not show version $version: $(man graygif 2>/dev/null | tail -n 1)"
echo "man -w graygif: $page (version $version)"
for file in README.md LICENSE copyright changelog.gz; do
    [ -f "/usr/share/doc/graygif/$file" ] || fail "no /usr/share/doc/graygif/$file"
done
for file in bash-completion/completions/graygif zsh/vendor-completions/_graygif; do
    [ -f "/usr/share/$file" ] || fail "no /usr/share/$file"
done
echo "completions: /usr/share/bash-completion/completions/graygif, /usr/share/zsh/vendor-completions/_graygif"

remove || fail "apt-get remove graygif"
hash -r
! command -v graygif >/dev/null || fail "graygif is still on the PATH after the removal"
echo "package: installed, used and removed"
