#!/bin/sh
# Runs one libFuzzer target for a bounded time from the committed seeds.
#   run-fuzzer.sh FUZZER SEEDS CORPUS SECONDS
# New inputs go to CORPUS (created if missing), never to the committed SEEDS;
# a crashing input is kept in CORPUS/../crash-*. Prints the number of
# executions and exits non-zero on any finding.
set -eu
fuzzer=$1
seeds=$2
corpus=$3
seconds=$4

if [ ! -x "$fuzzer" ]; then
    echo "run-fuzzer: $fuzzer is not built (cmake --build --preset sanitize)" >&2
    exit 1
fi
mkdir -p "$corpus"
log=$(mktemp)
trap 'rm -f "$log"' EXIT

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# -close_fd_mask=2: the targets' own error output (the fatal-error line the
# grid target provokes on purpose) is dropped; libFuzzer and the sanitizers
# keep reporting on a copy of it.
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -close_fd_mask=2 -artifact_prefix="$(dirname "$corpus")/crash-$(basename "$fuzzer")-" \
    "$corpus" "$seeds" >"$log" 2>&1 || status=$?
grep -v '^#[0-9]' "$log" | tail -n 40
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
echo "$(basename "$fuzzer"): ${runs:-?} executions in $seconds s, exit status $status"
exit "$status"
