#!/usr/bin/env bash
# Installs the Debian packages that are missing for the given needs:
#   build  - compiler, CMake, Ninja, fast_float
#   test   - GoogleTest, giflib (an independent GIF decoder for the tests)
#   benchbuild - Google Benchmark and giflib: enough to build the benchmarks
#   bench  - what running them needs besides: hyperfine, netpbm, numpy, Pillow, GNU time
#   fuzz   - clang with libFuzzer
# Runs apt-get as root, else through sudo.
set -euo pipefail

packages=()
for need in "$@"; do
    case "$need" in
    build) packages+=(g++ cmake ninja-build git libfast-float-dev) ;;
    test) packages+=(libgtest-dev libgif-dev clang-format) ;;
    benchbuild) packages+=(libbenchmark-dev libgif-dev) ;;
    bench) packages+=(libbenchmark-dev libgif-dev hyperfine netpbm python3-numpy python3-pil time) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *) echo "install-deps: unknown need '$need'" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
