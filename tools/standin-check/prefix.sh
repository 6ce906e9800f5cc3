# Puts the second stand-ins into the checkout's Wine prefix and takes them out again; sourced.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here="$top/tools/standin-check"
export WINEPREFIX="$top/out/wineprefix-win32"
sys="$WINEPREFIX/drive_c/windows/system32"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe'
wx() { "$top/cmake/wine-exec" win32 "$@"; }
put_rapi() { cp "$here/out/rapi.dll" "$sys/rapi.dll"; }
put_appmgr_fallback() { mkdir -p "$WINEPREFIX/drive_c/windows/WindowsMobile"; cp "$here/out/CEAppMgr.exe" "$WINEPREFIX/drive_c/windows/WindowsMobile/"; }
# put_appmgr_key DIR(unix, below drive_c) VALUE TYPE
put_appmgr_key() { mkdir -p "$WINEPREFIX/drive_c/$1"; cp "$here/out/CEAppMgr.exe" "$WINEPREFIX/drive_c/$1/"; wx reg add "$key" /ve /t "$3" /d "$2" /f /reg:32 >/dev/null 2>&1; }
take_all() {
    rm -f "$sys/rapi.dll" /root/"Check App".*.CAB
    rm -rf "$WINEPREFIX/drive_c/users/root/AppData/Local/Check App"
    rm -rf "$WINEPREFIX/drive_c/windows/WindowsMobile" "$WINEPREFIX/drive_c/Program Files/Check Mobile" "$WINEPREFIX/drive_c/checkam"
    wx reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
}
