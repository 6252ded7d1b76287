#!/usr/bin/env bash
# Encoding ten minutes of audio in four files: velmar-mp3 (both cores) against
# the peer program with the same settings run on one file after the other, in
# the same run. Prints the wall-time ratio and the sizes.
#   mp3:  velmar-mp3 against lame -V 2 -m j (VBR, joint stereo)
#   flac: velmar-mp3 --flac against flac -5
#   bench/encode_bench.sh mp3|flac VELMAR-MP3 [minutes]
set -euo pipefail
kind=$1
encoder=$(realpath "$2")
minutes=${3:-10}
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
case "$kind" in
  mp3) ours_args=(); peer="lame -V 2 -m j"; ext=mp3 ;;
  flac) ours_args=(--flac); peer="flac -5"; ext=flac ;;
  *) echo "usage: $0 mp3|flac VELMAR-MP3 [minutes]" >&2; exit 2 ;;
esac
start=$(now)
"$encoder" --no-window "${ours_args[@]}" "$work"/ours/in*.wav >/dev/null
ours=$(awk "BEGIN { print $(now) - $start }")
start=$(now)
for f in "$work"/peer/in*.wav; do
  if [ "$kind" = mp3 ]; then lame --quiet -V 2 -m j "$f" "${f%.wav}.mp3"; else flac -5 -s "$f" -o "${f%.wav}.flac"; fi
done
theirs=$(awk "BEGIN { print $(now) - $start }")

size() { du -cb "$@" | tail -1 | cut -f1; }
ours_size=$(size "$work"/ours/*.$ext)
peer_size=$(size "$work"/peer/*.$ext)
printf '%s: %s min of audio in 4 files\n' "$kind" "$minutes"
printf '  velmar-mp3 %s(%d cores): %6.2f s, %d bytes\n' "${ours_args[*]:+${ours_args[*]} }" "$(nproc)" "$ours" "$ours_size"
printf '  %s, one after another: %6.2f s, %d bytes\n' "$peer" "$theirs" "$peer_size"
printf '  ratio velmar-mp3 / %s: %.2f (goal: 0.6 or below on two cores); size %+.2f %%\n' "${peer%% *}" \
  "$(awk "BEGIN { print $ours / $theirs }")" "$(awk "BEGIN { print 100 * ($ours_size - $peer_size) / $peer_size }")"
