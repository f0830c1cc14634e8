#!/usr/bin/env bash
# with-virtual-display.sh COMMAND [ARG...]
# Runs a command on a virtual X display of its own (Xvfb, 1280 x 1024, 24 bits)
# and returns its exit status.
#
# Xvfb picks a free display number itself and says which when it is ready
# (-displayfd), and the server is waited for at the end. Unlike choosing a
# number beforehand, two runs that overlap or follow each other closely can
# never end up on the same display, nor one remove the other's socket.
set -u
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
server=$!
for _ in $(seq 200); do
    [ -s "$dir/display" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
done
display=$(head -n 1 "$dir/display")
if [ -z "$display" ]; then
    echo "with-virtual-display: Xvfb did not start" >&2
    cat "$dir/log" >&2
    kill "$server" 2>/dev/null
    rm -rf "$dir"
    exit 1
fi
DISPLAY=":$display" "$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$dir"
exit $status
