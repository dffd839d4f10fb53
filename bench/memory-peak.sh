#!/bin/bash
# Peak memory of the desktop program through start, a conversion and a Play, driven with xdotool clicks on an X
# display (an Xvfb already running):
#
#   Xvfb :87 -screen 0 1280x1024x24 -nolisten tcp &
#   DISPLAY=:87 bench/memory-peak.sh [SCORE]
#
# With SCORE the score is first loaded through "楽譜読込" and its file dialog; without it the score area's own
# example is converted. Play needs a sound server (PulseAudio, a null sink will do); without one Play shows the
# program's message instead of playing, which is reported here. Prints the resident
# memory (VmRSS) and its peak so far (VmHWM) after each step, then the peak that /usr/bin/time -v saw for the
# whole run. BUILD names the build folder (default: build).
set -euo pipefail
here=$(dirname "$0")
build=${BUILD:-$here/../build}
program=$build/src/app/nagisora
score=${1:-}
: "${DISPLAY:?set DISPLAY to a running X server, e.g. Xvfb :87}"
command -v xdotool >/dev/null || { echo "memory-peak.sh: needs xdotool (apt-get install xdotool)" >&2; exit 2; }

scratch=$(mktemp -d)
timer_pid=
cleanup() {
    [ -n "$timer_pid" ] && kill "$timer_pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

/usr/bin/time -v -o "$scratch/time.txt" "$program" &
timer_pid=$!
pid=
for _ in $(seq 100); do
    pid=$(pgrep -P "$timer_pid" || true)
    [ -n "$pid" ] && break
    sleep 0.05
done
[ -n "$pid" ] || { echo "memory-peak.sh: the program did not start" >&2; exit 1; }

memory() { # step name
    printf '%-22s %s\n' "$1:" "$(grep -E 'VmRSS|VmHWM' "/proc/$pid/status" | tr -s ' \t' ' ' | tr '\n' ' ')"
}

window=$(xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window")"
# The window is laid out for 815 x 474 at 96 dpi and scaled with the screen; clicks follow the scale.
click() { # x y in the 96-dpi layout
    xdotool mousemove --window "$window" $(($1 * WIDTH / 815)) $(($2 * HEIGHT / 474)) click 1
}
sleep 1 # the SoundFont loads in the background from the start
memory "after start"

if [ -n "$score" ]; then
    click 244 18 # 楽譜読込
    sleep 1
    xdotool type --delay 2 "$(realpath "$score")"
    xdotool key Return
    sleep 1
    memory "after loading"
fi

message_count() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l; }
click 64 368 # MIDI 作成
sleep 1
memory "after conversion"

windows_before=$(message_count)
click 128 367 # ▶
sleep 3
memory "after 3 s of playing"
if [ "$(message_count)" -gt "$windows_before" ]; then
    echo "memory-peak.sh: the program showed a message after ▶ (no sound server?)" >&2
fi
if command -v pactl >/dev/null && pactl list short sink-inputs 2>/dev/null | grep -q .; then
    echo "playing through the sound server: yes"
else
    echo "playing through the sound server: no (nothing in pactl's sink inputs)"
fi

kill "$pid"
wait "$timer_pid" 2>/dev/null || true
timer_pid=
grep -E 'Maximum resident set size' "$scratch/time.txt"
