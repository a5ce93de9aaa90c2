#!/bin/sh
# Runs a command beside a fake org.freedesktop.ScreenSaver service on the
# session bus; the command finds the service's log in PRUVEX_FAKE_SAVER_LOG.
#   with-fake-screensaver.sh FAKE-SERVICE COMMAND [ARGS...]
set -eu
fake=$1
shift
log=$(mktemp)
"$fake" >"$log" 2>&1 &
service=$!
trap 'kill "$service" 2>/dev/null || true; rm -f "$log"' EXIT INT TERM
i=0
until grep -q "^ready" "$log"; do
    i=$((i + 1))
    if [ "$i" -gt 200 ] || ! kill -0 "$service" 2>/dev/null; then
        echo "with-fake-screensaver: the service did not start" >&2
        cat "$log" >&2
        exit 1
    fi
    sleep 0.05
done
PRUVEX_FAKE_SAVER_LOG=$log
export PRUVEX_FAKE_SAVER_LOG
"$@"
