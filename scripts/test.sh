#!/usr/bin/env bash
# Builds the program and the whole test suite (preset "dev", or the one given) and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
needs=(build test)
[ "$preset" != clang-libcxx ] || needs+=(libcxx)
scripts/install-deps.sh "${needs[@]}"
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
