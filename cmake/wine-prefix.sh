#!/usr/bin/env bash
# Creates the checkout's private Wine prefix for ARCH (win32 or win64) once, set up so that tests
# behave the same on every machine: Wine's own fonts, Wine drawing its own window frames (bare
# Xvfb has no window manager), and no crash dialog waiting for a click.
# Usage: wine-prefix.sh ARCH
set -euo pipefail
arch=$1
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="$top/out/wineprefix-$arch" WINEARCH="$arch" WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
fonts() { # Wine's own fonts, Marlett (caption buttons) among them; again when they came later
    cp -n /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}
if [ -f "$WINEPREFIX/.tarvelo-ready" ]; then
    fonts
    exit 0
fi

rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$top/cmake/wine-exec" "$arch" wineboot -i >/dev/null 2>&1
wineserver -w
fonts
reg="$WINEPREFIX/tarvelo.reg"
cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
"$top/cmake/wine-exec" "$arch" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
wineserver -w
touch "$WINEPREFIX/.tarvelo-ready"
