# shellcheck shell=bash
# Helpers the scripts share; sourced from the top folder (scripts/helpers.sh).

# Ends the script with a message on standard error.
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Runs a command as root: directly when the script runs as root, else through sudo where it is
# installed (a minimal Debian has none).
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        fail "$1 needs root: run this as root, or install sudo"
    fi
}

# apt-get as root, asking nothing (sudo would drop DEBIAN_FRONTEND if it were set outside).
apt_get() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get "$@"
}

# Configures and builds preset release: build/release/graygif, the program as users install it.
build_release() {
    cmake --preset release >/dev/null
    cmake --build --preset release
}
