#!/usr/bin/env bash
# What measuring loudness while encoding costs: velmar-mp3 (MP3 and FLAC) on
# four files with ReplayGain and with --no-replaygain, each alone, in turns
# (A B A B), and loudgain scanning the FLAC files afterwards, the second read
# of the audio that measuring while encoding saves. Prints the times and the
# extra cost in %.
#   bench/replay_gain_bench.sh VELMAR-MP3 [minutes] [rounds]
set -euo pipefail
encoder=$(realpath "$1")
minutes=${2:-10}
rounds=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=$(awk "BEGIN { print $minutes * 60 / 4 }")
for i in 1 2 3 4; do
  sox -n -r 44100 -b 16 -c 2 "$work/in$i.wav" synth "$seconds" pinknoise synth "$seconds" sine mix 220 \
    tremolo 0.5 60 vol 0.4
done
now() { date +%s.%N; }
# One run of the encoder in a fresh folder; its wall time.
run() {
  local dir="$work/run"
  rm -rf "$dir" && mkdir "$dir" && cp "$work"/in*.wav "$dir/"
  local start
  start=$(now)
  "$encoder" --no-window "$@" "$dir"/in*.wav >/dev/null
  awk "BEGIN { print $(now) - $start }"
}
printf 'replaygain: %s min of audio in 4 files, %s rounds, each run alone\n' "$minutes" "$rounds"
for kind in mp3 flac; do
  args=()
  [ "$kind" = flac ] && args=(--flac)
  on=0 off=0
  for ((r = 1; r <= rounds; r++)); do
    a=$(run "${args[@]}")
    b=$(run "${args[@]}" --no-replaygain)
    printf '  %s round %d: with %.2f s, without %.2f s\n' "$kind" "$r" "$a" "$b"
    on=$(awk "BEGIN { print $on + $a }")
    off=$(awk "BEGIN { print $off + $b }")
  done
  printf '  %s: loudness while encoding costs %+.1f %%\n' "$kind" "$(awk "BEGIN { print 100 * ($on - $off) / $off }")"
done
start=$(now)
loudgain -a -q -s s "$work"/run/in*.flac >/dev/null 2>&1
printf '  loudgain -a reading the same FLAC files again: %.2f s\n' "$(awk "BEGIN { print $(now) - $start }")"
