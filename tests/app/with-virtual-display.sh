#!/usr/bin/env bash
# with-virtual-display.sh COMMAND [ARG...]
# Runs a command on a virtual X display of its own (Xvfb, 1280 x 1024, 24 bits,
# or $VIRTUAL_SCREEN such as 1366x768x24) and returns its exit status. With
# VIRTUAL_WM=openbox that window manager frames the windows, as on a desktop;
# the command then finds VIRTUAL_WM_RUNNING=1 when it did start.
#
# Xvfb picks a free display number itself and says which when it is ready
# (-displayfd), and the server is waited for at the end. Unlike choosing a
# number beforehand, two runs that overlap or follow each other closely can
# never end up on the same display, nor one remove the other's socket.
set -u
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 "${VIRTUAL_SCREEN:-1280x1024x24}" -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
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
# The number comes before the server takes clients: a client that came too
# soon under load was turned away ("could not connect to display"). Ready
# once a client is served. Without -noreset the server would start afresh as
# that client leaves, and turn the next one away while it does.
for _ in $(seq 200); do
    DISPLAY=":$display" xprop -root >/dev/null 2>&1 && break
    sleep 0.05
done
wm=
if [ -n "${VIRTUAL_WM:-}" ] && command -v "$VIRTUAL_WM" >/dev/null; then
    DISPLAY=":$display" "$VIRTUAL_WM" >"$dir/wm-log" 2>&1 &
    wm=$!
    # Ready once it has said so on the root window.
    for _ in $(seq 300); do
        DISPLAY=":$display" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
            export VIRTUAL_WM_RUNNING=1 && break
        kill -0 "$wm" 2>/dev/null || { cat "$dir/wm-log" >&2; break; }
        sleep 0.05
    done
fi
DISPLAY=":$display" "$@"
status=$?
[ -n "$wm" ] && kill "$wm" 2>/dev/null && wait "$wm" 2>/dev/null
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$dir"
exit $status
