#!/bin/sh
# Traces the program's system calls (strace -f, every thread and child)
# through a session of keys, resizes and mode switches, and fails on any file
# opened for writing or created, removed or renamed, any program started, and
# any socket but the display connection and the desktop's session bus.
#   trace-quiet.sh DRIVER PROGRAM       (inside run-under-x.sh and a session bus)
set -eu
driver=$1
program=$2
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT

status=0
"$driver" quiet -- strace -f -qq -o "$trace" \
    -e trace=open,openat,openat2,creat,mkdir,mkdirat,rename,renameat,renameat2,unlink,unlinkat,link,linkat,symlink,symlinkat,truncate,ftruncate,memfd_create,socket,socketpair,connect,bind,listen,accept,accept4,execve,execveat,fork,vfork \
    "$program" || status=$?

# The bus socket's path from unix:path=... or unix:abstract=... (abstract
# names show as "@name" in the trace).
bus=$(printf '%s\n' "${DBUS_SESSION_BUS_ADDRESS:-}" |
    sed -n 's/^unix:path=\([^,;]*\).*/\1/p; s/^unix:abstract=\([^,;]*\).*/@\1/p')
display=$(printf '%s\n' "$DISPLAY" | sed 's/^[^:]*:\([0-9]*\).*/\1/')

awk -v x11="/tmp/.X11-unix/X$display" -v bus="$bus" '
function finding(what) { printf "FAIL: %s: %s\n", what, $0; bad++ }
function note(what) { notes[what]++ }
{ sub(/^[0-9]+ +/, ""); calls++ }
/^execve\(/ { if (++execs > 1) finding("a program started"); next }
/^(fork|vfork)\(/ { finding("a process started"); next }
/^(open|openat|openat2)\(/ && /O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND/ {
    if ($0 ~ /= -1 /) note("refused attempt to open for writing: " $0); else finding("opened for writing")
    next
}
/^(creat|mkdir|mkdirat|rename|renameat|renameat2|unlink|unlinkat|link|linkat|symlink|symlinkat|truncate|ftruncate|memfd_create)\(/ {
    if ($0 ~ /= -1 /) note("refused attempt to change the file system: " $0); else finding("file system changed")
    next
}
/^socket\(/ && !/^socket\(AF_UNIX,/ { finding("a socket of another family"); next }
/^(socketpair|bind|listen|accept|accept4)\(/ { if ($0 !~ /= -1 /) finding("a socket served or paired"); next }
/^connect\(/ {
    match($0, /sun_path=@?"[^"]*"/)
    path = substr($0, RSTART, RLENGTH); sub(/sun_path=/, "", path); gsub(/"/, "", path)
    abstract = substr(path, 1, 1) == "@"
    plain = abstract ? substr(path, 2) : path
    if (plain == x11) note("display connection " path)
    else if (bus != "" && (path == bus || plain == bus)) note("session bus connection " path)
    else if ($0 ~ /= -1 /) note("refused connection " path)
    else finding("connected to something else")
}
END {
    for (what in notes) printf "seen: %s (%d)\n", what, notes[what]
    printf "%d calls traced, %d findings\n", calls, bad
    exit bad > 0
}' "$trace" || status=1
exit "$status"
