# Sourced by the scripts that start a server for the tests:
#   wait_until PID WHAT LOG COMMAND [ARGS...]
# runs COMMAND every 50 ms until it succeeds; when the process PID has ended,
# or after 10 s, says that WHAT did not start, shows LOG and exits 1.
wait_until() {
    wait_pid=$1
    wait_what=$2
    wait_log=$3
    shift 3
    wait_tries=0
    until "$@"; do
        wait_tries=$((wait_tries + 1))
        if [ "$wait_tries" -gt 200 ] || ! kill -0 "$wait_pid" 2>/dev/null; then
            echo "$wait_what did not start" >&2
            cat "$wait_log" >&2
            exit 1
        fi
        sleep 0.05
    done
}
