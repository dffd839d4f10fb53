#!/bin/sh
# Starts the desktop program under Xvfb with the Openbox window manager and checks that the whole window,
# frame included, stands in the middle of the screen, and that the window manager offers no maximise.
#   frame_centring.sh PROGRAM
# Exit status 77 (skipped) when Xvfb, Openbox or the X tools are missing.
set -eu
program=$1
for tool in Xvfb openbox xdotool xprop xwininfo; do
    command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
tmp=$(mktemp -d)
pids=""
trap 'for pid in $pids; do kill "$pid" 2>/dev/null || true; done; rm -rf "$tmp"' EXIT
width=1280
height=1024

# Waits up to 10 s for a command to succeed.
await() {
    tries=0
    until "$@" >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || { echo "timed out: $*"; exit 1; }
        sleep 0.05
    done
}

Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids="$!"
await test -s "$tmp/display"
DISPLAY=:$(cat "$tmp/display")
export DISPLAY
openbox >"$tmp/openbox.log" 2>&1 &
pids="$! $pids"
await sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
sleep 0.5 # the window manager announces itself before it takes requests
"$program" >"$tmp/program.log" 2>&1 &
pids="$! $pids"
await sh -c 'xdotool search --onlyvisible --name "MIDI データ" >"$0"' "$tmp/window"
window=$(head -n 1 "$tmp/window")
await sh -c 'xprop -id "$0" _NET_FRAME_EXTENTS | grep -q =' "$window"

x=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {print $4}')
y=$(xwininfo -id "$window" | awk '/Absolute upper-left Y/ {print $4}')
w=$(xwininfo -id "$window" | awk '/Width:/ {print $2}')
h=$(xwininfo -id "$window" | awk '/Height:/ {print $2}')
# left, right, top, bottom
set -- $(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
frameLeft=$((x - $1))
frameTop=$((y - $3))
frameWidth=$((w + $1 + $2))
frameHeight=$((h + $3 + $4))
expectedLeft=$(((width - frameWidth) / 2))
expectedTop=$(((height - frameHeight) / 2))
echo "frame ${frameWidth}x${frameHeight} at $frameLeft,$frameTop; centred: $expectedLeft,$expectedTop"
status=0
[ "$frameLeft" -eq "$expectedLeft" ] && [ "$frameTop" -eq "$expectedTop" ] || status=1
if xprop -id "$window" _NET_WM_ALLOWED_ACTIONS | grep -q MAXIMIZE; then
    echo "the window manager offers to maximise the window"
    status=1
fi
exit $status
