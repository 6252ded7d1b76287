#!/usr/bin/env bash
# Splitting a 60-minute recording (pieces of a few minutes with silences
# between them) into tracks: velmar-rec split against sox's silence splitting,
# in the same run. Prints both times and peak memories and their ratios.
#   bench/split_bench.sh VELMAR_REC [minutes]
set -euo pipefail
rec="$(realpath "$1")"
minutes="${2:-60}"
work="$(mktemp -d /tmp/velmar-split-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# One piece: 3 min of a sweep with noise, 3 s of silence; repeated to the length.
sox -n -r 44100 -b 16 -c 2 piece.wav synth 180 sine 100-4000 synth 180 pinknoise mix vol 0.5 \
  pad 0 3 2>/dev/null
pieces=$(( (minutes * 60 + 182) / 183 ))
sox piece.wav input.wav repeat $((pieces - 1)) 2>/dev/null
echo "input: $(soxi -d input.wav) ($(( $(stat -c %s input.wav) / 1048576 )) MiB), $pieces pieces"

measure() {  # name command...: prints "seconds kilobytes"
  local name="$1"; shift
  if ! /usr/bin/time -f "%e %M" -o "$name.time" "$@" >/dev/null 2>"$name.err"; then
    echo "$name failed:" >&2; cat "$name.err" >&2; exit 1
  fi
  cat "$name.time"
}
mkdir ours peer
read -r ours_s ours_kb < <(measure ours "$rec" split input.wav --out ours)
read -r peer_s peer_kb < <(cd peer && measure ../peer sox ../input.wav out.wav \
  silence 1 0.1 1% 1 2.0 1% : newfile : restart)
echo "tracks: velmar-rec $(ls ours | wc -l), sox $(ls peer | wc -l)"
printf "%-12s %10s %12s\n" "" "seconds" "peak KiB"
printf "%-12s %10s %12s\n" velmar-rec "$ours_s" "$ours_kb" sox "$peer_s" "$peer_kb"
awk -v a="$ours_s" -v b="$peer_s" -v c="$ours_kb" -v d="$peer_kb" \
  'BEGIN { printf "ratio ours/peer: time %.2f, peak memory %.2f\n", a / b, c / d }'
