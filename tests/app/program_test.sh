#!/usr/bin/env bash
# program_test.sh PROGRAM SOURCE_DIR
# The user's hands for the end-to-end test: starts the program on the display
# from a folder without pictures (it finds its own beside it) with a start
# option, types and holds keys and quits it through its File menu with xdotool,
# printing the titles it read, whether a picture was missed, how long the quit
# took and the exit status as name=value.
set -u
cd /
# In a sanitizer build the program's own leak check at exit would see the data
# of the OpenGL driver, unloaded with the display, as leaked (without stacks to
# tell them apart). The same start-up and quit run in the in-process window
# tests, which do check for leaks; here only memory errors end the program.
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" timeout 60 "$1" --scenario 2 &
pid=$!
# Searching fails now and then while windows come and go; it is simply retried.
wid=
for _ in $(seq 200); do
    wid=$(xdotool search --onlyvisible --name '^Marovel 1\.0: Scenario' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && break
    sleep 0.1
done
[ -n "$wid" ] || { echo "no window"; kill $pid; exit 1; }
# The title once it matches the pattern, or as it is after 10 s.
title_when() {
    for _ in $(seq 100); do
        t=$(xdotool getwindowname "$wid")
        [[ $t =~ $1 ]] && break
        sleep 0.1
    done
    echo "$t"
}
echo "first=$(title_when 'Time=0\.0$')"
echo "errors=$(xdotool search --name '^ERROR!$' 2>/dev/null | wc -l)"
xdotool windowfocus --sync "$wid"
xdotool key --delay 80 Right Right Left
echo "keys=$(title_when 'Scenario=3 ')"
# Held for a while, the stopped clock's Right steps one scenario, not one a repeat.
xdotool keydown Right
sleep 1.5
xdotool keyup Right
sleep 0.3
echo "held=$(xdotool getwindowname "$wid")"
xdotool key space
title_when 'Time=([5-9]|[1-9][0-9]+)\.0$' > /dev/null
xdotool key space
sleep 0.3
echo "run=$(xdotool getwindowname "$wid")"
# File is the bar's first title; its fifth item is Quit (after Open town, Info, Save
# picture and Record video).
xdotool mousemove --window "$wid" 15 10 click 1
sleep 0.5
xdotool key --delay 100 Down Down Down Down Down
start=$(date +%s%N)
xdotool key Return
wait $pid
status=$?
echo "quit_ms_below_1000=$(( ($(date +%s%N) - start) / 1000000 < 1000 ))"
echo "status=$status"
