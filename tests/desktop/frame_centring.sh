#!/bin/sh
# Starts PROGRAM under Xvfb and Openbox; passes when the window, frame included, stands in the middle of the
# screen and the window manager offers no maximise. Exit status 77 (skipped) without the X tools.
set -eu
for tool in Xvfb openbox xdotool xprop xwininfo; do command -v "$tool" >/dev/null || exit 77; done
tmp=$(mktemp -d)
pids=""
trap 'kill $pids 2>/dev/null; rm -rf "$tmp"' EXIT
await() { # up to 30 s: a sanitized build on a busy machine starts slowly
    n=0
    until sh -c "$1" >/dev/null 2>&1; do
        n=$((n + 1)) && [ $n -lt 600 ] || { echo "timed out: $1"; exit 1; }
        sleep 0.05
    done
}
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null & pids="$!"
await "test -s $tmp/display"
export DISPLAY=:$(cat "$tmp/display")
openbox >/dev/null 2>&1 & pids="$! $pids"
await 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
sleep 0.5 # the window manager announces itself before it takes requests
"$1" >/dev/null 2>&1 & pids="$! $pids"
await "xdotool search --onlyvisible --name 'MIDI データ' >$tmp/window"
window=$(head -n 1 "$tmp/window")
await "xprop -id $window _NET_FRAME_EXTENTS | grep -q ="
geometry() { xwininfo -id "$window" | awk -v key="$1" '$0 ~ key {print $NF}'; }
set -- $(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g') # left, right, top, bottom
left=$(($(geometry 'Absolute upper-left X') - $1)) top=$(($(geometry 'Absolute upper-left Y') - $3))
width=$(($(geometry 'Width') + $1 + $2)) height=$(($(geometry 'Height') + $3 + $4))
echo "frame ${width}x$height at $left,$top; centred: $(((1280 - width) / 2)),$(((1024 - height) / 2))"
[ "$left" -eq $(((1280 - width) / 2)) ] && [ "$top" -eq $(((1024 - height) / 2)) ] || exit 1
! xprop -id "$window" _NET_WM_ALLOWED_ACTIONS | grep -q MAXIMIZE
