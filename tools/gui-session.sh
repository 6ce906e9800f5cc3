# Sourced by the scripts that drive the real program under Wine as a user does (tools/gui-demo,
# tools/gui-accept): which build and which Wine to use, a private copy of the Wine prefix and a
# private Xvfb display, and the steps every such script takes through X: start the program, quit
# it, answer a file chooser, wait for a file. The caller sets `name` (for messages) and `out` (its
# folder of results) and calls gui_session_start.
#
# A private prefix and display, so that a test run beside it cannot stop our Wine server, nor we
# its. TARVELO_EXE picks another Tarvelo.exe, TARVELO_WINEPREFIX another prefix, GUI_DISPLAY a
# display number.

drive=tools/gui-drive
main="Tarvelo Installer"
xvfb_pid='' program_pid=''

fail() {
    echo "$name: FAILED: $*" >&2
    exit 1
}
step() { echo "== $*"; }

windows_path() { # a Linux path as Wine shows it on its Z: drive
    local p=$1
    printf 'Z:%s' "${p//\//\\}"
}

gui_session_cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null || true
    fi
    WINEPREFIX="$TARVELO_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    fi
    return 0
}

gui_session_start() {
    # The 32-bit build where the host can run it, else the 64-bit build of the same code (as ./run).
    local preset=win32
    if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        preset=win64-check
    fi
    exe=${TARVELO_EXE:-out/$preset/bin/Tarvelo.exe}
    [ -f "$exe" ] || fail "no $exe: build the $preset preset first (or set TARVELO_EXE)"
    # The Wine that runs it follows the program itself: its PE header's machine field says which.
    arch=$(python3 -c '
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", data, 0x3C)[0]
machine = struct.unpack_from("<H", data, pe + 4)[0] if data[pe:pe + 4] == b"PE\0\0" else 0
print({0x14C: "win32", 0x8664: "win64"}.get(machine, ""))' "$exe")
    [ -n "$arch" ] || fail "$exe is not a 32-bit or 64-bit x86 Windows program"
    export TARVELO_WINEPREFIX=${TARVELO_WINEPREFIX:-$top/out/gui-prefix}

    cmake/ensure-deps.sh
    trap gui_session_cleanup EXIT

    # A copy of the checkout's prefix, made once: the tests' prefix stays as they expect it.
    # A prefix is for one architecture; the mark says which this copy is for.
    cmake/wine-prefix.sh "$arch" || fail "could not set up out/wineprefix-$arch"
    if [ ! -f "$TARVELO_WINEPREFIX/.tarvelo-gui-$arch" ]; then
        step "copying the Wine prefix to $TARVELO_WINEPREFIX"
        rm -rf "$TARVELO_WINEPREFIX"
        cp -a "out/wineprefix-$arch" "$TARVELO_WINEPREFIX" || fail "could not copy the Wine prefix"
        touch "$TARVELO_WINEPREFIX/.tarvelo-gui-$arch"
    fi

    . cmake/xvfb.sh
    # -noreset: else the server restarts whenever its last client leaves, between two runs say.
    start_xvfb "${GUI_DISPLAY:-115}" "${GUI_DISPLAY:-149}" 1280x1024x24 -noreset ||
        fail "Xvfb could not start on $DISPLAY"
    step "Xvfb on $DISPLAY, prefix $TARVELO_WINEPREFIX, program $exe"
}

# Starts PROGRAM (default: $exe) and waits until its main window takes keys; its output goes to
# $out/program.log.
start_program() {
    local program=${1:-$exe}
    cmake/wine-exec "$arch" "$program" </dev/null >>"$out/program.log" 2>&1 &
    program_pid=$!
    local waited=0
    until "$drive" wait-window "$main" --timeout 1 >/dev/null 2>&1; do
        kill -0 "$program_pid" 2>/dev/null ||
            fail "the program ended before its main window appeared (its output: $out/program.log)"
        waited=$((waited + 1))
        [ "$waited" -lt 60 ] || fail "the main window never appeared within 60 s (the program's output: $out/program.log)"
    done
    sleep 3 # the splash stays in front for about 2.5 s and would take the keys
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended on its own"
}

quit_program() {
    "$drive" keys --window-name "$main" alt+f x >/dev/null || fail "could not press File > Exit"
    "$drive" wait-window "$main" --gone --timeout 15 || fail "File > Exit left the main window open"
    for _ in $(seq 150); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$program_pid" 2>/dev/null && fail "the program's window closed but the program did not end"
    local rc=0
    wait "$program_pid" || rc=$?
    program_pid=
    [ "$rc" -eq 0 ] || fail "the program ended with status $rc after File > Exit"
}

# Types PATH into the platform's file chooser named TITLE, which the File menu's LETTER opens.
choose_file() {
    local letter=$1 title=$2 path=$3 picture=${4:-}
    "$drive" keys --window-name "$main" alt+f "$letter" >/dev/null || fail "could not open the File menu"
    "$drive" wait-window "$title" --timeout 15 >/dev/null || fail "File > $letter opened no \"$title\" dialog"
    "$drive" keys --window-name "$title" "type:$(windows_path "$path")" >/dev/null || fail "could not type the path"
    [ -z "$picture" ] || "$drive" screenshot "$picture" >/dev/null
    "$drive" keys --window-name "$title" Return >/dev/null || fail "could not press Return"
    "$drive" wait-window "$title" --gone --timeout 15 || fail "the \"$title\" dialog stayed open after Return"
}

wait_for_file() {
    for _ in $(seq 100); do
        [ -s "$1" ] && return 0
        sleep 0.1
    done
    fail "no $1 after saving"
}
