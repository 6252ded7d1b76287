#!/usr/bin/env bash
# Splitting an hour of recording into tracks: velmar-rec split against sox's
# silence splitting and against cp of the same file (reading and writing it
# once, the floor), in the same run, on two kinds of hour: 20 long pieces of
# 3 minutes, and a few hundred short pieces of 15 seconds, each followed by 3 s
# of silence. Prints times, peak memories and the ratios.
#   bench/split_bench.sh VELMAR_REC [minutes]
set -euo pipefail
rec="$(realpath "$1")"
minutes="${2:-60}"
work="$(mktemp -d /tmp/velmar-split-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT
cd "$work"

measure() {  # name command...: prints "seconds kilobytes"
  local name="$1"; shift
  # Each starts with nothing left to write back: the writes of the one before
  # would otherwise slow the next one down.
  sync
  if ! /usr/bin/time -f "%e %M" -o "$name.time" "$@" >/dev/null 2>"$name.err"; then
    echo "$name failed:" >&2; cat "$name.err" >&2; exit 1
  fi
  cat "$name.time"
}

run() {  # kind seconds-of-sound
  local kind="$1" sound="$2"
  rm -rf ours peer copy.wav input.wav piece.wav
  sox -n -r 44100 -b 16 -c 2 piece.wav synth "$sound" sine 100-4000 synth "$sound" pinknoise \
    mix vol 0.5 pad 0 3 2>/dev/null
  local pieces=$(( (minutes * 60 + sound + 2) / (sound + 3) ))
  sox piece.wav input.wav repeat $((pieces - 1)) 2>/dev/null
  sync
  echo "== $kind: $(soxi -d input.wav) ($(( $(stat -c %s input.wav) / 1048576 )) MiB), $pieces pieces"
  mkdir ours peer
  read -r ours_s ours_kb < <(measure ours "$rec" split input.wav --out ours)
  read -r peer_s peer_kb < <(cd peer && measure ../peer sox ../input.wav out.wav \
    silence 1 0.1 1% 1 2.0 1% : newfile : restart)
  read -r copy_s copy_kb < <(measure copy cp input.wav copy.wav)
  echo "tracks: velmar-rec $(ls ours | wc -l), sox $(ls peer | wc -l)"
  printf "%-12s %10s %12s\n" "" "seconds" "peak KiB"
  printf "%-12s %10s %12s\n" velmar-rec "$ours_s" "$ours_kb" sox "$peer_s" "$peer_kb" \
    cp "$copy_s" "$copy_kb"
  awk -v a="$ours_s" -v b="$peer_s" -v c="$ours_kb" -v d="$peer_kb" -v k="$kind" -v e="$copy_s" \
    'BEGIN { printf "ratio ours/peer (%s): time %.2f, peak memory %.2f; ours/cp time %.2f\n",
             k, a / b, c / d, (e > 0 ? a / e : 0) }'
}

run "20 long pieces" 177
run "short pieces" 15
