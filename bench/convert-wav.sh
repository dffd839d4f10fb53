#!/bin/sh
# Speed of `nagisora-convert --wav` against real time: hyperfine runs the conversion of each example score with
# its WAV rendering, and the ratio is the music's length over the median wall time.
#
#   bench/convert-wav.sh [RUNS]        (RUNS: hyperfine runs per score, default 10)
#
# The music's length comes from the events the converter prints: the 32-tick lead-in plus every duration, at
# the default tempo 90, where one tick lasts 500,000 / 90 microseconds. BUILD names the build folder (default:
# build). Needs hyperfine and jq.
set -eu
here=$(dirname "$0")
build=${BUILD:-$here/../build}
convert=$build/src/cli/nagisora-convert
runs=${1:-10}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for score in "$here/../examples/start-score.txt" "$here/../examples/long-4096.txt"; do
    ticks=$("$convert" --events "$score" | awk '{ total += $3 } END { print total + 32 }')
    music=$(awk -v ticks="$ticks" 'BEGIN { printf "%.3f", ticks * 0.5 / 90 }')
    hyperfine -N --warmup 1 --runs "$runs" --export-json "$scratch/result.json" \
        "$convert --wav $scratch/out.wav -o $scratch/out.mid $score"
    median=$(jq '.results[0].median' "$scratch/result.json")
    awk -v name="$(basename "$score")" -v music="$music" -v wall="$median" \
        'BEGIN { printf "%s: %.2f s of music in %.3f s (median): %.0f times real time\n", name, music, wall, music / wall }'
done
