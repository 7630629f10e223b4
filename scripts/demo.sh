#!/usr/bin/env bash
# Sets everything up, builds, and shows the programs at work on built-in examples: talvo, splice and
# mvcore (a texture streamer whose performance log becomes a Chrome trace for Perfetto).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh native
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The main job: an Ogg Vorbis file made with oggenc from a synthesized signal, packed by talvo-pack,
# restored by talvo, compared byte for byte.
echo "== talvo: Ogg Vorbis packed into a talvo archive and restored byte for byte"
bin="$root/build/bin"
ffmpeg -nostdin -loglevel error -y -f lavfi -t 20 -i \
  "aevalsrc=0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*3*t))+0.2*sin(2*PI*330*t)+0.15*sin(2*PI*440*t+sin(2*PI*5*t))+0.05*(random(0)-0.5):s=44100" \
  -ac 2 -c:a pcm_s16le -fflags +bitexact "$work/music.wav"
oggenc -Q -q 4 -s 4242 -o "$work/music.ogg" "$work/music.wav"
now() { date +%s.%N; }
t0=$(now)
"$bin/talvo-pack" -v "$work/music.ogg"
t1=$(now)
"$bin/talvo" "$work/music.ogg.talvo" "$work/restored.ogg" > /dev/null
t2=$(now)
cmp "$work/music.ogg" "$work/restored.ogg" && echo "   restored.ogg is identical to music.ogg"
awk -v a="$(wc -c < "$work/music.ogg")" -v b="$(wc -c < "$work/music.ogg.talvo")" \
    -v t0="$t0" -v t1="$t1" -v t2="$t2" 'BEGIN {
  p = t1 - t0; u = t2 - t1
  printf "   music.ogg %d bytes -> music.ogg.talvo %d bytes (%.1f%% of the input)\n", a, b, 100 * b / a
  printf "   packing %.2f s (%.1f MB/s, verification included), unpacking %.2f s (%.1f MB/s)\n",
    p, a / p / 1e6, u, a / u / 1e6 }'
for other in xz zstd; do
  command -v "$other" > /dev/null || continue
  printf '   %s -9 for comparison: %d bytes\n' "$other" "$("$other" -9 -c "$work/music.ogg" | wc -c)"
done
echo

echo "== splice: write one file into another at a hexadecimal offset, or append it"
splice="$root/build/bin/splice"
show() { printf '   %-42s |%s|\n' "$1" "$(tr '\0' '.' < "$2")"; }
printf 'The quick brown fox jumps over the lazy dog.' > "$work/target.txt"
printf 'CAT' > "$work/patch.txt"
show "target.txt" "$work/target.txt"
"$splice" "$work/target.txt" "$work/patch.txt" 10
show "splice target.txt patch.txt 10 (=0x10)" "$work/target.txt"
"$splice" "$work/target.txt" "$work/patch.txt" 0x4
show "splice target.txt patch.txt 0x4" "$work/target.txt"
"$splice" "$work/target.txt" "$work/patch.txt" len
show "splice target.txt patch.txt len" "$work/target.txt"
"$splice" "$work/new.bin" "$work/patch.txt" 8
show "splice new.bin patch.txt 8 (new; .=0)" "$work/new.bin"
echo "   the target keeps its length unless the source reaches past its end; it is never truncated"
for where in LEN zz; do
  "$splice" "$work/target.txt" "$work/patch.txt" "$where" 2>"$work/err" && status=0 || status=$?
  printf '   %-42s exit %s: %s\n' "splice target.txt patch.txt $where" "$status" "$(cat "$work/err")"
done
"$splice" "$work" "$work/patch.txt" 0 2>"$work/err" && status=0 || status=$?
printf '   %-42s exit %s: %s\n' "splice <a directory> patch.txt 0" "$status" "$(cat "$work/err")"
echo

# mvcore: a small texture streamer (mvcore/examples/texture_streamer.cpp) on the allocator, the job
# system and the performance monitor; its performance log becomes a report and a Chrome trace via mplg.
echo "== mvcore: a texture streamer on the allocator, the job system and the performance monitor"
echo "   frame loop on the main thread, tile loads (FastLZ blocks, CRC-checked) as jobs on the worker,"
echo "   ranges and counters per frame, everything captured in a performance log"
demo="$root/build/demo"
mkdir -p "$demo"
"$bin/texture_streamer" "$demo/texture_streamer.mplg" 120
echo "   mplg stats (the streamer's statistics and the memory it holds):"
"$bin/mplg" stats "$demo/texture_streamer.mplg" |
  grep -E '^(group |Streamer |Memory +(Total|TileSet) +MiB)' | sed 's/^/     /'
"$bin/mplg" trace "$demo/texture_streamer.mplg" "$demo/texture_streamer.json"
echo "   Chrome trace: $demo/texture_streamer.json"
echo "   To view it, open https://ui.perfetto.dev, choose \"Open trace file\" and pick that file (or drop it"
echo "   onto the page): the render thread's frames, the loader's tile loads, the requests from asking to"
echo "   loaded, and the counters over time. chrome://tracing reads it as well."
