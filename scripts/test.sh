#!/usr/bin/env bash
# Builds the program and the whole test suite (preset "dev", or the one given) and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
scripts/install-deps.sh build test
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
