#!/bin/sh
# Runs a command inside a private X session: a virtual X server and the
# openbox window manager, both started here and stopped on the way out.
#   run-under-x.sh COMMAND [ARGS...]
# PRUVEX_XVFB_SCREEN sets the screen (default 1920x1080x24, 3200x1200x24 with
# two monitors); the command finds
# the server's process id in PRUVEX_XVFB_PID.
set -eu
. "$(dirname "$0")/../wait-until.sh"

tmp=$(mktemp -d)
cleanup() {
    # Either may have gone already (a test can end the X server on purpose).
    for process in ${wm:-} ${xvfb:-}; do
        kill "$process" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT INT TERM

default_screen=1920x1080x24
[ "${PRUVEX_MONITORS:-}" = two ] && default_screen=3200x1200x24

# -displayfd picks a free display number and writes it once the server is up.
Xvfb -displayfd 3 -screen 0 "${PRUVEX_XVFB_SCREEN:-$default_screen}" -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
PRUVEX_XVFB_PID=$xvfb
export PRUVEX_XVFB_PID
wait_until "$xvfb" "run-under-x: Xvfb" "$tmp/xvfb.log" test -s "$tmp/display"
DISPLAY=":$(cat "$tmp/display")"
export DISPLAY
# PRUVEX_MONITORS=two: two monitors of different sizes side by side on one
# 3200 x 1200 screen, 1920 x 1200 at +0+0 and 1280 x 1024 at +1920+0.
if [ "${PRUVEX_MONITORS:-}" = two ]; then
    xrandr --setmonitor one 1920/508x1200/318+0+0 screen >/dev/null
    xrandr --setmonitor two 1280/338x1024/270+1920+0 none >/dev/null
    xrandr --query >/dev/null
fi

# A private runtime folder, as a desktop session's login provides.
mkdir -m 700 "$tmp/runtime"
XDG_RUNTIME_DIR="$tmp/runtime"
export XDG_RUNTIME_DIR
unset WAYLAND_DISPLAY

openbox --sm-disable >"$tmp/openbox.log" 2>&1 &
wm=$!
# For a test that stops the window manager to see what an unanswered
# request gives.
PRUVEX_WM_PID=$wm
export PRUVEX_WM_PID

status=0
"$@" || status=$?
exit "$status"
