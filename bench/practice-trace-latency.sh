#!/bin/bash
# The 練習 window's trace: from a block of sound read from the sound server to the trace drawn with its pitch.
# A private PulseAudio with two null sinks, "out" (the preview's speaker) and "mic", whose monitor the window
# listens to; the program on an Xvfb display of its own; a FluidSynth render of the example score played into
# "mic" with paplay once the preview sounds its first note. The program's trace (NAGISORA_TRACE) gets one line
# "practice-drawn MICROSECONDS" for each block, from the moment the block's pitch frames were found to the end
# of the repaint that draws them. Reports median, p95 and worst of that over all runs, and the whole way from
# the microphone: plus one block of the input (256 samples, 5.8 ms, the most a sound waits for its block to
# fill) and half the detector's window (512 samples, 11.6 ms: a frame's pitch is that of the window's middle).
#
#   bench/practice-trace-latency.sh [--runs N]
#
# Needs pulseaudio, pulseaudio-utils, xvfb, xdotool, sox and a build with nagisora and nagisora-convert (BUILD
# names the folder, default: build). Nothing outside a temporary folder is touched.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD:-$here/../build}
program=$build/src/app/nagisora
convert=$build/src/cli/nagisora-convert
runs=3
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) runs=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N]" >&2; exit 2 ;;
    esac
done
for tool in pulseaudio paplay pactl Xvfb xdotool sox; do
    command -v "$tool" >/dev/null || { echo "practice-trace-latency.sh: needs $tool" >&2; exit 2; }
done
[ -x "$program" ] && [ -x "$convert" ] || { echo "practice-trace-latency.sh: build nagisora and nagisora-convert in $build first" >&2; exit 2; }

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/pulse" "$scratch/home/.config/nagisora" "$scratch/xdg"
chmod 700 "$scratch/xdg"
HOME=$scratch/home PULSE_RUNTIME_PATH=$scratch/pulse PULSE_STATE_PATH=$scratch/pulse \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=stderr \
    --load="module-null-sink sink_name=out rate=44100" \
    --load="module-null-sink sink_name=mic rate=44100" \
    --load="module-native-protocol-unix socket=$scratch/pulse/native auth-anonymous=1" 2>"$scratch/pulse.log" &
pids+=($!)
export PULSE_SERVER=unix:$scratch/pulse/native
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl set-default-sink out

exec 3<> "$scratch/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 2>"$scratch/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
export DISPLAY=:$(head -n 1 "$scratch/display")
export XDG_RUNTIME_DIR=$scratch/xdg
export HOME=$scratch/home
printf '[practice]\nsource=mic.monitor\n' >"$HOME/.config/nagisora/nagisora.ini"

score=$here/../examples/start-score.txt
"$convert" --instrument Shakuhachi -o "$scratch/take.mid" --wav "$scratch/take-stereo.wav" "$score"
sox "$scratch/take-stereo.wav" -c 1 "$scratch/take.wav"

trace=$scratch/trace.txt
NAGISORA_TRACE=$trace "$program" "$score" 2>"$scratch/program.log" &
program_pid=$!
pids+=($program_pid)
main=$(xdotool search --sync --onlyvisible --pid "$program_pid" | head -n 1)
xdotool windowmove --sync "$main" 400 0
sleep 0.5
xdotool mousemove --window "$main" 600 300 click 1
xdotool key F5 ctrl+shift+l
practice=$(xdotool search --sync --onlyvisible --name '^練習$' | head -n 1)
xdotool windowmove --sync "$practice" 0 500
sleep 0.5
width=$(xdotool getwindowgeometry "$practice" | awk '/Geometry/ { split($2, g, "x"); print g[1] }')
for run in $(seq "$runs"); do
    : >"$trace"
    xdotool mousemove --window "$practice" $((width - 40)) 16 click 1 # ▶ 吹く
    for _ in $(seq 500); do grep -q '^[0-9]* mark 0$' "$trace" && break; sleep 0.01; done
    paplay --device=mic "$scratch/take.wav"
    for _ in $(seq 500); do grep -q 'ok-enabled' "$trace" && break; sleep 0.02; done
    awk '/practice-drawn/ { print $3 }' "$trace" >>"$scratch/drawn.txt"
done
sort -n "$scratch/drawn.txt" | awk -v runs="$runs" '
    { v[NR] = $1 }
    END {
        if (NR == 0) { print "no trace drawn"; exit 1 }
        median = v[int((NR + 1) / 2)]; p95 = v[int(NR * 0.95 + 0.5)]; worst = v[NR]
        printf "%d blocks in %d runs\n", NR, runs
        printf "block read -> trace drawn: median %.2f ms, p95 %.2f ms, worst %.2f ms\n", median / 1000, p95 / 1000, worst / 1000
        printf "microphone -> trace drawn (plus 5.8 ms block, 11.6 ms half window): median %.1f ms, worst %.1f ms\n",
            median / 1000 + 17.4, worst / 1000 + 17.4
    }'
