#!/usr/bin/env bash
# Encoding ten minutes of audio in four files to FLAC: velmar-mp3 --flac (level
# 5, both cores) against the flac program at -5 run on one file after the
# other, in the same run. Prints the wall-time ratio and the sizes.
#   bench/flac_bench.sh VELMAR-MP3 [minutes]
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
"$encoder" --no-window --flac "$work"/ours/in*.wav >/dev/null
ours=$(awk "BEGIN { print $(now) - $start }")
start=$(now)
for f in "$work"/peer/in*.wav; do flac -5 -s "$f" -o "${f%.wav}.flac"; done
peer=$(awk "BEGIN { print $(now) - $start }")

size() { du -cb "$@" | tail -1 | cut -f1; }
ours_size=$(size "$work"/ours/*.flac)
peer_size=$(size "$work"/peer/*.flac)
printf 'flac: %s min of audio in 4 files\n' "$minutes"
printf '  velmar-mp3 --flac (%d cores): %6.2f s, %d bytes\n' "$(nproc)" "$ours" "$ours_size"
printf '  flac -5, one after another:   %6.2f s, %d bytes\n' "$peer" "$peer_size"
printf '  ratio velmar-mp3 / flac: %.2f (goal: 0.6 or below on two cores); size %+.2f %%\n' \
  "$(awk "BEGIN { print $ours / $peer }")" "$(awk "BEGIN { print 100 * ($ours_size - $peer_size) / $peer_size }")"
