# Sourced by ./test, ./run and the tools that drive the program: starts a private Xvfb display.
#
#   start_xvfb FIRST LAST [SIZE] [Xvfb options...]
#
# takes the first display number from FIRST to LAST that is free, starts Xvfb there with a screen
# of SIZE (default 1280x1024x24), waits until its socket is there, and sets DISPLAY and xvfb_pid.
# Answers 1 when no server comes up.
start_xvfb() {
    local first=$1 last=$2 size=${3:-1280x1024x24}
    shift $(($# < 3 ? $# : 3))
    local n
    for n in $(seq "$first" "$last"); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 "$size" -nolisten tcp "$@" >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    local _
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        kill -0 "$xvfb_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}
