#!/usr/bin/env bash
# Runs a test program on a private Xvfb display, with a real system tray host (trayer) when
# called with --tray, then stops both. The program's exit code is the script's.
set -u
tray=0
if [ "${1:-}" = "--tray" ]; then
    tray=1
    shift
fi
work=$(mktemp -d)
cleanup() {
    [ -n "${trayer_pid:-}" ] && kill "$trayer_pid" 2>/dev/null
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
if [ ! -s "$work/display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n 1 "$work/display")"
export QT_QPA_PLATFORM=xcb
# No OpenGL: the widgets do not need it, and the software GL driver keeps memory until exit.
export QT_XCB_GL_INTEGRATION=none
# The tray must not depend on the desktop's theme or session bus.
unset QT_QPA_PLATFORMTHEME DBUS_SESSION_BUS_ADDRESS
export VQ_EXPECT_TRAY=$tray

if [ "$tray" = 1 ]; then
    trayer --edge top --align right --widthtype request --height 24 >"$work/trayer.log" 2>&1 &
    trayer_pid=$!
fi
"$@"
