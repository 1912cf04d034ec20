#!/usr/bin/env bash
# Builds the release program and converts a shipped example data file.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/helpers.sh
scripts/install-deps.sh build
build_release
mkdir -p build/demo
cp examples/*.DAT build/demo/
cd build/demo
../release/graygif -S -X160 -Y120 WAVES.DAT
echo
ls -l "$PWD"/*.gif
