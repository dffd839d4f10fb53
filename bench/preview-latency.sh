#!/bin/bash
# The preview end to end, as a user hears it: a private PulseAudio with a null sink as the speaker, the real
# program on its own Xvfb display, clicks sent with xdotool (XTest), and the sink's monitor recorded with
# parec. Reports median and worst of
#   1. paplay of a short WAV: start of paplay -> first audible sample at the sink (the floor);
#   2. ▶: the mouse button's release -> first audible sample at the sink (a short score, converted with
#      "MIDI 作成" first);
#   3. the same runs, whose music ends by itself: last audible sample at the sink -> "MIDI 作成" enabled again;
#   4. dropouts while the 4096-note example plays with two busy CPU hogs running.
#
#   bench/preview-latency.sh [--runs N] [--dropout-runs N] [--dropout-seconds S]
#
# Shared clock. Everything is timed on CLOCK_MONOTONIC, which every process of the machine shares: sink_watch
# (bench/sink_watch.cpp) stamps each piece of the monitor's audio as it arrives (a sample's moment is its
# piece's, less the samples after it in the piece, at a 2 ms recording latency), stamps the start and the end
# of each xdotool and paplay it runs, and reads the moments the program writes to the file named by
# NAGISORA_TRACE ("ok-enabled": the end of the music enabled "MIDI 作成"). A click is timed from the start of
# "xdotool mouseup 1", the release that makes a button act (its press is sent beforehand), so the figure holds
# xdotool's own start-up; the time from its exit is printed too. paplay is timed from its start likewise.
#
# Needs pulseaudio, pulseaudio-utils (parec, paplay, pactl), xvfb, xdotool (tools/install-deps.sh test), and
# a build with the program and sink_watch: BUILD names the folder (default: build). Nothing outside a
# temporary folder is touched: the sound server has its own runtime folder and socket, the display its own
# number.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD:-$here/../build}
program=$build/src/app/nagisora
watch=$build/bench/sink_watch
runs=15
dropout_runs=3
dropout_seconds=30
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) runs=$2; shift 2 ;;
    --dropout-runs) dropout_runs=$2; shift 2 ;;
    --dropout-seconds) dropout_seconds=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--dropout-runs N] [--dropout-seconds S]" >&2; exit 2 ;;
    esac
done
for tool in pulseaudio parec paplay pactl Xvfb xdotool iconv; do
    command -v "$tool" >/dev/null || { echo "preview-latency.sh: needs $tool (tools/install-deps.sh test)" >&2; exit 2; }
done
[ -x "$program" ] && [ -x "$watch" ] || {
    echo "preview-latency.sh: build nagisora and sink_watch in $build first" >&2; exit 2; }

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# The sound server: a null sink at 44,100 Hz as the only sink, reached through a socket in the scratch folder.
mkdir -p "$scratch/pulse" "$scratch/home" "$scratch/xdg"
chmod 700 "$scratch/xdg"
HOME=$scratch/home PULSE_RUNTIME_PATH=$scratch/pulse PULSE_STATE_PATH=$scratch/pulse \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=stderr \
    --load="module-null-sink sink_name=preview_bench rate=44100" \
    --load="module-native-protocol-unix socket=$scratch/pulse/native auth-anonymous=1" 2>"$scratch/pulse.log" &
pids+=($!)
export PULSE_SERVER=unix:$scratch/pulse/native
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl info >/dev/null || { echo "preview-latency.sh: the sound server did not start:" >&2; cat "$scratch/pulse.log" >&2; exit 1; }

# The display.
exec 3<> "$scratch/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 2>"$scratch/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
export DISPLAY=:$(head -n 1 "$scratch/display")
export XDG_RUNTIME_DIR=$scratch/xdg

# The program, with its trace.
trace=$scratch/trace.log
NAGISORA_TRACE=$trace "$program" 2>"$scratch/program.log" &
pid=$!
pids+=($pid)
window=$(xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window")"
# The layout is 815 x 474 at 96 dpi, scaled with the screen; points follow the scale.
at() { echo $((X + $1 * WIDTH / 815)) $((Y + $2 * HEIGHT / 474)); }
click() { xdotool mousemove $(at "$1" "$2") click 1; }
load_score() { # file
    click 244 18 # 楽譜読込
    sleep 1
    xdotool type --delay 2 "$(realpath "$1")"
    xdotool key Return
    sleep 1
    click 64 368 # MIDI 作成
    sleep 1
}
sleep 1 # the SoundFont loads in the background from the start

echo "== floor: paplay of a 0.5 s tone"
"$watch" tone "$scratch/tone.wav"
"$watch" floor --runs "$runs" "$scratch/tone.wav"

echo "== ▶ on a score of four beats at tempo 90, and its end"
printf 'ロツレチ\r\n－－－－\r\n' | iconv -f UTF-8 -t CP932 >"$scratch/short.txt"
load_score "$scratch/short.txt"
"$watch" play --runs "$runs" --at $(at 128 367) --trace "$trace"

echo "== dropouts: the 4096-note example with two busy CPU hogs"
load_score "$here/../examples/long-4096.txt"
hogs=()
for _ in 1 2; do
    sh -c 'while :; do :; done' &
    hogs+=($!)
    pids+=($!)
done
"$watch" dropouts --runs "$dropout_runs" --seconds "$dropout_seconds" --at $(at 128 367) --stop $(at 157 367)
kill "${hogs[@]}"

if [ -s "$scratch/program.log" ]; then
    echo "== the program's standard error"
    cat "$scratch/program.log"
fi
