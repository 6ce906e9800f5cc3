#!/usr/bin/env bash
# Installs, from Debian's packages, whatever building and testing need and is still missing.
# Says nothing when everything is there. Used by ./run and ./test; with --build-server, by
# tools/release --build-server, only what building tarvelo-build and Template.exe needs.
set -euo pipefail

if [ "${1:-}" = --build-server ]; then
    packages=(cmake ninja-build g++ g++-mingw-w64-i686-posix zlib1g-dev libz-mingw-w64-dev)
else
    packages=(
        cmake ninja-build g++ googletest fp-utils
        g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
        wine wine32:i386 wine64 fonts-wine
        xvfb xauth imagemagick
        python3-xlib xdotool
        zlib1g-dev libz-mingw-w64-dev cabextract
        python3-pefile
        osslsigncode openssl
    )
fi

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "note: not a Debian host; install the equivalents of: ${packages[*]}" >&2
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "Installing ${missing[*]} ..."
log=$(mktemp)
trap 'rm -f "$log"' EXIT
{
    # Wine's 32-bit half comes from the i386 architecture.
    if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${sudo[@]}" dpkg --add-architecture i386
    fi
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
} >"$log" 2>&1 || {
    cat "$log" >&2
    echo "error: could not install ${missing[*]}" >&2
    exit 1
}
