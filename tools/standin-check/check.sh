#!/usr/bin/env bash
# Drives a built Setup.exe silently with the second stand-ins, one case a line: what Setup said,
# its exit status and time, and what each stand-in logged (lines with FAULT are the stand-ins'
# objections). Takes everything it put into the checkout's Wine prefix away again, on every exit.
# Usage: check.sh SETUP.exe WORKDIR   (WORKDIR: a scratch folder for logs and the device's file)
set -uo pipefail
setup=$(readlink -f "$1")
work=$(readlink -f "$2")
source "$(dirname "$0")/prefix.sh"
mkdir -p "$work"
trap take_all EXIT
winwork="Z:${work//\//\\}"

# run LABEL "ENV=.. ENV=.." ARGS...
run() {
    local label=$1 envs=$2
    shift 2
    rm -f "$work/rapi.log" "$work/am.log" "$work/device.bin"
    local start end rc
    start=$(date +%s.%N)
    env CHECK_RAPI_LOG="$winwork\\rapi.log" CHECK_RAPI_OUT="$winwork\\device.bin" CHECK_APPMGR_LOG="$winwork\\am.log" \
        $envs "$top/cmake/wine-exec" win32 "$setup" "$@" >"$work/out.txt" 2>"$work/err.txt"
    rc=$?
    end=$(date +%s.%N)
    printf '=== %s [%s] %s -> exit %d in %.1fs\n' "$label" "$envs" "$*" "$rc" "$(echo "$end - $start" | bc)"
    sed 's/^/  stderr: /' "$work/err.txt"
    [ -f "$work/rapi.log" ] && grep -v 'CeWriteFile asked\|CeRapiGetError\|CeGetSystemInfo' "$work/rapi.log" | sed 's/^/  rapi: /'
    [ -f "$work/rapi.log" ] && echo "  rapi: $(grep -c 'CeWriteFile asked' "$work/rapi.log") writes"
    [ -f "$work/device.bin" ] && echo "  device's file: $(stat -c %s "$work/device.bin") bytes"
    [ -f "$work/am.log" ] && sed 's/^/  appmgr: /' "$work/am.log"
    return 0
}

take_all
run no-software "" /S /APPMGR
run no-software "" /S /DEVICE

put_rapi
run device "" /S /DEVICE
for mode in fail never refused; do run "no device ($mode)" "CHECK_RAPI_INIT=$mode" /S /DEVICE; done
run "late device" "CHECK_RAPI_INIT=late CHECK_RAPI_LATE_MS=2000" /S /DEVICE
for mode in made exists80 denied; do run "folder ($mode)" "CHECK_RAPI_MKDIR=$mode" /S /DEVICE; done
run "short writes" "CHECK_RAPI_CHUNK=4096" /S /DEVICE
run "device full" "CHECK_RAPI_FULL=100000" /S /DEVICE
run "installer not started" "CHECK_RAPI_PROC=fail" /S /DEVICE
run "no process handles" "CHECK_RAPI_PI=null" /S /DEVICE
for arch in 1 4 0 6; do run "architecture $arch" "CHECK_RAPI_ARCH=$arch" /S /DEVICE; done
run "first way, device" "" /S
run "first way, no device" "CHECK_RAPI_INIT=never" /S
take_all

put_appmgr_fallback
run "appmgr in WindowsMobile" "" /S /APPMGR
run "appmgr slow" "CHECK_APPMGR_SLEEP=4000" /S /APPMGR
run "appmgr blind" "CHECK_APPMGR_MODE=blind" /S /APPMGR
run "appmgr fails" "CHECK_APPMGR_MODE=fail" /S /APPMGR
run "first way, appmgr" "" /S
run "folder given" "" /S '/APPMGR=C:\checkam\out' folder
take_all
put_appmgr_key "Program Files/Check Mobile" '"C:\Program Files\Check Mobile\CEAppMgr.exe"' REG_SZ
run "appmgr key quoted" "" /S /APPMGR
take_all
put_appmgr_key "Program Files/Check Mobile" '%ProgramFiles%\Check Mobile\CEAppMgr.exe' REG_EXPAND_SZ
run "appmgr key expandable" "" /S /APPMGR
