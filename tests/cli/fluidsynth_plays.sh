#!/bin/sh
# A MIDI file written by nagisora-convert plays in FluidSynth's own command-line player: the rendering lasts
# the 12.18 s of the start score's music (2192 ticks at division 90) and more for the release.
set -eu
convert="$1"
score="$2"
soundfont=""
for name in FluidR3_GM.sf2 default-GM.sf2 TimGM6mb.sf2; do
    if [ -e "/usr/share/sounds/sf2/$name" ]; then soundfont="/usr/share/sounds/sf2/$name"; break; fi
done
[ -n "$soundfont" ] || { echo "no General MIDI SoundFont under /usr/share/sounds/sf2"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$convert" -o "$dir/start.mid" "$score"
fluidsynth -ni -q -F "$dir/out.wav" -r 44100 "$soundfont" "$dir/start.mid" >/dev/null 2>&1
bytes=$(stat -c %s "$dir/out.wav")
# 16-bit stereo at 44100 frames a second, after a 44-byte header.
seconds=$(( (bytes - 44) / (44100 * 4) ))
echo "rendered $seconds s"
[ "$seconds" -ge 12 ] && [ "$seconds" -le 20 ]
