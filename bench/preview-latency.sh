#!/bin/bash
# The preview end to end, as a user hears it, beside paplay on the same sink in the same run: a private
# PulseAudio with a null sink as the speaker, two windows of the real program on an Xvfb display of their own,
# and bench/sink_watch, which records the sink's monitor from start to end, clicks through the X server with
# XTest and reads the program's trace. Reports median, p90, worst and best of
#   - ▶ → first audible sample, the first ▶ of a window (which opens the sound output) and the later ones, beside
#     paplay's start → first audible sample;
#   - ■ → the sound changes (drops by 12 dB), beside SIGTERM to paplay → the sound changes;
#   - the end of the sound → "MIDI 作成" enabled again, beside the end of paplay's sound → paplay's exit;
#   - the playing mark's lag: the moment the mark moves to a note less the moment that note was heard;
#   - ▶ by a click and by F6 → "MIDI 作成" drawn greyed on the screen (its pixels polled with XGetImage);
#   - dropouts in --dropout-seconds of the 4096-note example with two busy programs, beside paplay of the same
#     music rendered with nagisora-convert --wav under the same load.
# The short score is four organ notes of one beat (ロツレチ at tempo 90), whose level holds until the note ends.
#
#   bench/preview-latency.sh [--runs N] [--dropout-runs N] [--dropout-seconds S]
#
# Run it as the user whose figures count (an ordinary user for the real-time question): the program asks for
# a real-time thread by itself (README, "Preview and SoundFont"); whether RealtimeKit grants it depends on rtkit
# running on the system bus, and rtkit asks polkit, which allows a user of a local desktop session. Outside a
# session (a container, a CI runner) a polkit rule stands for it, for example in
# /etc/polkit-1/rules.d/49-bench-rtkit.rules:
#   polkit.addRule(function(action, subject) {
#       if (action.id.indexOf("org.freedesktop.RealtimeKit1.") == 0 && subject.user == "bench")
#           return polkit.Result.YES; });
# For the figures without RealtimeKit, hide the system bus from the sound server and the program alike:
#   DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent bench/preview-latency.sh
# The threads' scheduling is printed at the end.
#
# Needs pulseaudio, pulseaudio-utils (paplay, pactl), xvfb, xdotool (only to set the windows up) and a build
# with the program, nagisora-convert and sink_watch (libxtst-dev): BUILD names the folder (default: build).
# Nothing outside a temporary folder is touched: the sound server has its own runtime folder and socket, the
# display its own number.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD:-$here/../build}
program=$build/src/app/nagisora
convert=$build/src/cli/nagisora-convert
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
for tool in pulseaudio paplay pactl Xvfb xdotool iconv busctl; do
    command -v "$tool" >/dev/null || { echo "preview-latency.sh: needs $tool (tools/install-deps.sh test)" >&2; exit 2; }
done
[ -x "$program" ] && [ -x "$convert" ] && [ -x "$watch" ] || {
    echo "preview-latency.sh: build nagisora, nagisora-convert and sink_watch in $build first" >&2; exit 2; }

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# The sound server: a null sink at 44,100 Hz as the only sink, reached through a socket in the scratch folder.
mkdir -p "$scratch/pulse" "$scratch/home" "$scratch/xdg" "$scratch/a" "$scratch/b"
chmod 700 "$scratch/xdg"
HOME=$scratch/home PULSE_RUNTIME_PATH=$scratch/pulse PULSE_STATE_PATH=$scratch/pulse \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=stderr \
    --load="module-null-sink sink_name=preview_bench rate=44100" \
    --load="module-native-protocol-unix socket=$scratch/pulse/native auth-anonymous=1" 2>"$scratch/pulse.log" &
pulse=$!
pids+=($pulse)
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

# The scores: four organ notes (timbre 13 hexadecimal = program 19) and the 4096-note example.
printf '13\r\nロツレチ\r\n－－－－\r\n' | iconv -f UTF-8 -t CP932 >"$scratch/short.txt"
cp "$here/../examples/long-4096.txt" "$scratch/long.txt"
note_seconds=$(awk 'BEGIN { print 120 / 90 * 0.5 }')
"$convert" -o "$scratch/long.mid" --wav "$scratch/long.wav" "$scratch/long.txt"
"$watch" tone "$scratch/tone.wav" 0.5
"$watch" tone "$scratch/long-tone.wav" 3

# Two windows: the first plays the short score, the second the long one. "MIDI 作成" is clicked in each with
# xdotool while nothing is measured.
export HOME=$scratch/home
open_window() { # folder score y -> sets window, X, Y, WIDTH, HEIGHT
    local log=$1/program.log
    (cd "$1" && exec env ${TRACE:+NAGISORA_TRACE=$TRACE} "$program" "$2" 2>"$log") &
    local pid=$!
    pids+=($pid)
    window=$(xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
    xdotool windowmove --sync "$window" 0 "$3"
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$window")"
}
# The layout is 815 x 474 at 96 dpi, scaled with the screen; points follow the scale.
at() { echo $((X + $1 * WIDTH / 815)) $((Y + $2 * HEIGHT / 474)); }
trace=$scratch/trace.log
TRACE=$trace open_window "$scratch/a" "$scratch/short.txt" 0
play=$(at 128 367); stop=$(at 157 367); ok=$(at 64 368)
xdotool mousemove $(at 64 368) click 1 # MIDI 作成
TRACE= open_window "$scratch/b" "$scratch/long.txt" 520
long_play=$(at 128 367); long_stop=$(at 157 367)
xdotool mousemove $(at 64 368) click 1
sleep 2 # the SoundFonts load in the background from the start

kit=$(busctl --system get-property org.freedesktop.RealtimeKit1 /org/freedesktop/RealtimeKit1 \
    org.freedesktop.RealtimeKit1 MaxRealtimePriority 2>/dev/null >/dev/null && echo answering || echo not answering)
echo "== user $(id -un); RealtimeKit on the system bus: $kit"
"$watch" bench --trace "$trace" --tone "$scratch/tone.wav" --long-tone "$scratch/long-tone.wav" \
    --long-wav "$scratch/long.wav" --play $play --stop $stop --ok $ok --long-play $long_play --long-stop $long_stop \
    --note-seconds "$note_seconds" --runs "$runs" --dropout-runs "$dropout_runs" --dropout-seconds "$dropout_seconds"

echo "== scheduling (FF, RR: real-time) of the sound server's and the program's threads"
ps -L -o pid,tid,cls,rtprio,comm -p "$pulse" | sed -n '1p;/ FF \| RR /p'
for pid in $(pgrep -f "^$program "); do ps -L -o pid,tid,cls,rtprio,comm -p "$pid" | sed '1d' | grep -E ' (FF|RR) ' || echo "$pid: no real-time thread"; done
for folder in a b; do
    if [ -s "$scratch/$folder/program.log" ]; then
        echo "== the program's standard error ($folder)"
        cat "$scratch/$folder/program.log"
    fi
done
