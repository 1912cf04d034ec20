#!/usr/bin/env bash
# Installs the Debian packages that are missing for the given needs:
#   build  - compiler, CMake, Ninja, fast_float
#   test   - GoogleTest, giflib (an independent GIF decoder for the tests), acl and attr
#            (setfacl, getfacl, setfattr: the tests of access lists and extended attributes),
#            matplotlib and Pillow (the colour maps checked against matplotlib's, animations
#            read by a second decoder)
#   format - clang-format and shellcheck, for the format check
#   benchbuild - Google Benchmark and giflib: enough to build the benchmarks
#   bench  - what running them needs besides: hyperfine, netpbm, numpy, Pillow, GNU time
#   fuzz   - clang with libFuzzer
#   libcxx - clang with libc++, GoogleTest's sources to build with it, giflib
#   cross  - cross compilers for aarch64 and s390x, qemu-user, GoogleTest's sources
#   windows - the MinGW-w64 cross compiler, 64-bit Wine (no i386 architecture), GoogleTest's sources
#   package - what cpack needs for the Debian package (dpkg-shlibdeps), man to check its page,
#            lintian
#   scaleout - Slurm (slurmctld, slurmd, the client commands), munge and GNU parallel
# Runs apt-get as root, else through sudo where it is installed.
set -euo pipefail
# shellcheck source=scripts/helpers.sh
source "$(dirname "$0")/helpers.sh"

packages=()
for need in "$@"; do
    case "$need" in
    build) packages+=(g++ cmake ninja-build git libfast-float-dev) ;;
    test) packages+=(libgtest-dev libgif-dev acl attr python3-matplotlib python3-pil) ;;
    format) packages+=(git clang-format shellcheck) ;;
    benchbuild) packages+=(libbenchmark-dev libgif-dev) ;;
    bench) packages+=(libbenchmark-dev libgif-dev hyperfine netpbm python3-numpy python3-pil time) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    libcxx) packages+=(clang libc++-14-dev libc++abi-14-dev googletest libgif-dev) ;;
    cross) packages+=(g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user googletest file) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix wine wine64 googletest) ;;
    package) packages+=(dpkg-dev file man-db lintian) ;;
    scaleout) packages+=(slurm-wlm munge parallel) ;;
    *) echo "install-deps: unknown need '$need'" >&2 && exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"
