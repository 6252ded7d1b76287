#!/usr/bin/env bash
# Encoding ten minutes of audio in four files: velmar-mp3 (both cores) against
# the lame program with the same settings (VBR -V 2, joint stereo) run on one
# file after the other, in the same run. Prints the wall-time ratio.
#   bench/mp3_bench.sh VELMAR-MP3 [minutes]
set -euo pipefail
encoder=$(realpath "$1")
minutes=${2:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=$(awk "BEGIN { print $minutes * 60 / 4 }")
for i in 1 2 3 4; do
  # Music-like material: pink noise under a slow tremolo and a tone.
  sox -n -r 44100 -b 16 -c 2 "$work/in$i.wav" synth "$seconds" pinknoise synth "$seconds" sine mix 220 \
    tremolo 0.5 60 vol 0.4
done
now() { date +%s.%N; }

mkdir "$work/ours" "$work/peer"
cp "$work"/in*.wav "$work/ours/"
cp "$work"/in*.wav "$work/peer/"
start=$(now)
"$encoder" --no-window "$work"/ours/in*.wav >/dev/null
ours=$(awk "BEGIN { print $(now) - $start }")
start=$(now)
for f in "$work"/peer/in*.wav; do lame --quiet -V 2 -m j "$f" "${f%.wav}.mp3"; done
peer=$(awk "BEGIN { print $(now) - $start }")

size() { du -cb "$@" | tail -1 | cut -f1; }
printf 'mp3: %s min of audio in 4 files\n' "$minutes"
printf '  velmar-mp3 (%d cores): %6.2f s, %d bytes\n' "$(nproc)" "$ours" "$(size "$work"/ours/*.mp3)"
printf '  lame, one after another: %6.2f s, %d bytes\n' "$peer" "$(size "$work"/peer/*.mp3)"
printf '  ratio velmar-mp3 / lame: %.2f (goal: below 0.6 on two cores)\n' "$(awk "BEGIN { print $ours / $peer }")"
