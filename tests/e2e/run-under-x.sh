#!/bin/sh
# Runs a command inside a private X session: a virtual X server and the
# openbox window manager, both started here and stopped on the way out.
#   run-under-x.sh COMMAND [ARGS...]
set -eu

tmp=$(mktemp -d)
cleanup() {
    [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT INT TERM

# -displayfd picks a free display number and writes it once the server is up.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
i=0
while [ ! -s "$tmp/display" ]; do
    i=$((i + 1))
    if [ "$i" -gt 200 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "run-under-x: Xvfb did not start" >&2
        cat "$tmp/xvfb.log" >&2
        exit 1
    fi
    sleep 0.05
done
DISPLAY=":$(cat "$tmp/display")"
export DISPLAY
unset WAYLAND_DISPLAY

openbox --sm-disable >"$tmp/openbox.log" 2>&1 &
wm=$!

"$@"
