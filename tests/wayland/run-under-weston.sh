#!/bin/sh
# Runs a command inside a private headless Weston, started here and stopped
# on the way out, with its own runtime folder and socket.
#   run-under-weston.sh [--scale=N] [--xwayland] COMMAND [ARGS...]
# The command finds the compositor in WAYLAND_DISPLAY and XDG_RUNTIME_DIR;
# with --xwayland, X11 clients reach it through DISPLAY as well (XWayland
# starts on the first X11 connection). The output is Weston's default
# 1024 x 640 logical pixels, at scale N in device pixels. --debug lets
# weston-screenshooter and weston-debug read the output and the scene graph.
set -eu
. "$(dirname "$0")/../wait-until.sh"

scale=1
xwayland=""
while [ $# -gt 0 ]; do
    case "$1" in
    --scale=*) scale=${1#--scale=} ;;
    --xwayland) xwayland="--xwayland" ;;
    *) break ;;
    esac
    shift
done

tmp=$(mktemp -d)
cleanup() {
    if [ -n "${weston:-}" ]; then
        kill "$weston" 2>/dev/null || true
        wait "$weston" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT INT TERM

mkdir -m 700 "$tmp/runtime"
XDG_RUNTIME_DIR="$tmp/runtime"
WAYLAND_DISPLAY="pruvex-test"
export XDG_RUNTIME_DIR WAYLAND_DISPLAY
# Nothing of the machine's own session: no X display, no session bus, no
# user configuration of the compositor.
unset DISPLAY DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM

# shellcheck disable=SC2086
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --use-pixman --idle-time=0 \
    --debug --no-config --scale="$scale" --log="$tmp/weston.log" $xwayland &
weston=$!

ready() {
    [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] || return 1
    [ -z "$xwayland" ] || grep -q "xserver listening on display" "$tmp/weston.log"
}
wait_until "$weston" "run-under-weston: Weston" "$tmp/weston.log" ready
if [ -n "$xwayland" ]; then
    DISPLAY=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$tmp/weston.log" | head -n 1)
    export DISPLAY
fi

status=0
"$@" || status=$?
if [ "$status" -ne 0 ]; then
    echo "run-under-weston: the compositor's log:" >&2
    grep -v "^\s*$" "$tmp/weston.log" | tail -n 30 >&2
fi
exit "$status"
