#!/usr/bin/env bash
# talvo-pack and talvo over a generated corpus of Ogg Vorbis files (several encoders and settings,
# about 36 MB), next to xz -9e and zstd -19 --long on the same files: total size as a fraction of the
# input, packing and unpacking speed in MB/s, and peak memory (from /usr/bin/time -v).
# Usage: bench/talvo_corpus.sh [BUILD_BIN_DIR] [CORPUS_DIR]
set -euo pipefail
bin="$(cd "${1:-build/bin}" && pwd)"
corpus="${2:-${TMPDIR:-/tmp}/talvo_corpus}"
mkdir -p "$corpus"
work="$(mktemp -d "${TMPDIR:-/tmp}/talvo_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The corpus: four minute-long signals, each through seven encoder settings; made once and kept.
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
signals=(
  "aevalsrc=0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*3*t))+0.2*sin(2*PI*330*t)+0.15*sin(2*PI*440*t+sin(2*PI*5*t))+0.05*(random(0)-0.5):s=44100"
  "aevalsrc=0.4*sin(2*PI*(110+40*sin(2*PI*0.2*t))*t)*exp(-3*mod(t\,0.5))+0.1*(random(0)-0.5)*exp(-20*mod(t\,0.25)):s=44100"
  "aevalsrc=0.25*sin(2*PI*523*t)+0.25*sin(2*PI*659*t)*(mod(floor(t*4)\,2))+0.2*sin(2*PI*784*t)*(mod(floor(t*2)\,2))+0.02*(random(0)-0.5):s=44100"
  "anoisesrc=c=pink:a=0.2:s=44100"
)
for i in "${!signals[@]}"; do
  [ -f "$corpus/.complete" ] && break
  wav="$corpus/signal$i.wav"
  [ -f "$wav" ] || ff -f lavfi -i "${signals[$i]}" -t 60 -ac 2 -c:a pcm_s16le "$wav"
  for q in 0 3 6 10; do
    [ -f "$corpus/s${i}_oggenc_q$q.ogg" ] || oggenc -Q -s $((1000 + i)) -q $q -o "$corpus/s${i}_oggenc_q$q.ogg" "$wav"
  done
  [ -f "$corpus/s${i}_oggenc_managed.ogg" ] ||
    oggenc -Q -s $((2000 + i)) --managed -b 128 -o "$corpus/s${i}_oggenc_managed.ogg" "$wav"
  [ -f "$corpus/s${i}_ffmpeg_libvorbis.ogg" ] ||
    ff -i "$wav" -c:a libvorbis -q:a 4 -fflags +bitexact -flags:a +bitexact "$corpus/s${i}_ffmpeg_libvorbis.ogg"
  [ -f "$corpus/s${i}_ffmpeg_vorbis.ogg" ] ||
    ff -i "$wav" -c:a vorbis -strict -2 -fflags +bitexact -flags:a +bitexact "$corpus/s${i}_ffmpeg_vorbis.ogg"
done
touch "$corpus/.complete"
files=("$corpus"/*.ogg)
total=$(cat "${files[@]}" | wc -c)

# Runs a command under /usr/bin/time -v; prints "seconds peak_kb cpu_seconds" (wall time, peak resident
# set, user + system time: on a busy machine the CPU time is the steadier measure).
measure() {
  /usr/bin/time -v "$@" 2> "$work/time.txt" > /dev/null
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + p[i] }
              /User time|System time/ { cpu += $2 }
              /Maximum resident/ { kb = $2 } END { print s, kb, cpu }' "$work/time.txt"
}

row() { # name bytes pack_s pack_kb unpack_s unpack_kb pack_cpu unpack_cpu
  awk -v n="$1" -v b="$2" -v t="$total" -v ps="$3" -v pk="$4" -v us="$5" -v uk="$6" -v pc="$7" -v uc="$8" 'BEGIN {
    mb = t / 1e6
    printf "| %-18s | %11d | %6.1f%% | %6.2f (%6.2f) | %6.2f (%6.2f) | %6.0f | %6.0f |\n", n, b, 100 * b / t,
      mb / ps, mb / pc, mb / us, mb / uc, pk / 1024, uk / 1024 }'
}

echo "corpus: ${#files[@]} files, $total bytes"
echo "| tool               | total bytes | of input | pack MB/s wall (CPU) | unpack MB/s wall (CPU) | pack MiB | unpack MiB |"
echo "|--------------------|-------------|----------|----------------------|------------------------|----------|------------|"

# talvo: one archive per file, packed with default settings (verification included) and restored.
pack_s=0 pack_kb=0 unpack_s=0 unpack_kb=0 pack_cpu=0 unpack_cpu=0 bytes=0 modelled=0 streams=0
for f in "${files[@]}"; do
  name=$(basename "$f")
  read -r s kb cpu < <(measure "$bin/talvo-pack" -v -f "$f" "$work/$name.talvo")
  cp "$work/time.txt" "$work/v.txt"
  pack_s=$(echo "$pack_s + $s" | bc); pack_cpu=$(echo "$pack_cpu + $cpu" | bc); [ "$kb" -gt "$pack_kb" ] && pack_kb=$kb
  read -r s kb cpu < <(measure "$bin/talvo" "$work/$name.talvo" "$work/$name.out")
  unpack_s=$(echo "$unpack_s + $s" | bc); unpack_cpu=$(echo "$unpack_cpu + $cpu" | bc); [ "$kb" -gt "$unpack_kb" ] && unpack_kb=$kb
  cmp -s "$f" "$work/$name.out" || { echo "talvo restored $name differently" >&2; exit 1; }
  bytes=$((bytes + $(wc -c < "$work/$name.talvo")))
  streams=$((streams + $(grep -c 'Vorbis stream' "$work/v.txt" || true)))
  modelled=$((modelled + $(grep 'Vorbis stream' "$work/v.txt" | grep -vc ': raw' || true)))
  rm -f "$work/$name.out"
done
row "talvo (per file)" "$bytes" "$pack_s" "$pack_kb" "$unpack_s" "$unpack_kb" "$pack_cpu" "$unpack_cpu"

# xz and zstd over the same files, one compressed file per input.
for tool in "xz -9e" "zstd -19 --long"; do
  pack_s=0 pack_kb=0 unpack_s=0 unpack_kb=0 pack_cpu=0 unpack_cpu=0 bytes=0
  for f in "${files[@]}"; do
    read -r s kb cpu < <(measure sh -c "$tool -q -c '$f' > '$work/c'")
    pack_s=$(echo "$pack_s + $s" | bc); pack_cpu=$(echo "$pack_cpu + $cpu" | bc); [ "$kb" -gt "$pack_kb" ] && pack_kb=$kb
    read -r s kb cpu < <(measure sh -c "${tool%% *} -q -d -c '$work/c' > '$work/d'")
    unpack_s=$(echo "$unpack_s + $s" | bc); unpack_cpu=$(echo "$unpack_cpu + $cpu" | bc); [ "$kb" -gt "$unpack_kb" ] && unpack_kb=$kb
    bytes=$((bytes + $(wc -c < "$work/c")))
  done
  row "$tool" "$bytes" "$pack_s" "$pack_kb" "$unpack_s" "$unpack_kb" "$pack_cpu" "$unpack_cpu"
done
echo "Vorbis streams modelled: $modelled of $streams"
