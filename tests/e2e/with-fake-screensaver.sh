#!/bin/sh
# Runs a command beside a fake org.freedesktop.ScreenSaver service on the
# session bus; the command finds the service's log in PRUVEX_FAKE_SAVER_LOG.
#   with-fake-screensaver.sh FAKE-SERVICE COMMAND [ARGS...]
set -eu
. "$(dirname "$0")/../wait-until.sh"
fake=$1
shift
log=$(mktemp)
"$fake" >"$log" 2>&1 &
service=$!
trap 'kill "$service" 2>/dev/null || true; rm -f "$log"' EXIT INT TERM
wait_until "$service" "with-fake-screensaver: the service" "$log" grep -q "^ready" "$log"
PRUVEX_FAKE_SAVER_LOG=$log
export PRUVEX_FAKE_SAVER_LOG
"$@"
