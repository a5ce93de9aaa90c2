#!/bin/sh
# Runs a command in a Wine session of its own and ends that session after it,
# so that no Wine process outlives the X server it was using.
#   wine-session.sh WINE-RUN COMMAND [ARGS...]
# WINE-RUN is the build's Wine wrapper, which knows the prefix.
set -u
wine_run=$1
shift
"$@"
status=$?
"$wine_run" --kill 2>/dev/null
exit "$status"
