#!/bin/sh
# Runs a command in a Wine session of its own and ends that session after it,
# so that no Wine process outlives the X server it was using.
#   wine-session.sh [--serve] WINE-RUN COMMAND [ARGS...]
# WINE-RUN is the build's Wine wrapper, which knows the prefix. With --serve
# the session's server is started first and stays until the end, for a
# command that starts one Windows program after another.
set -u
serve=
if [ "$1" = --serve ]; then
    serve=1
    shift
fi
wine_run=$1
shift
if [ -n "$serve" ]; then
    "$wine_run" --serve
fi
"$@"
status=$?
"$wine_run" --kill 2>/dev/null
exit "$status"
