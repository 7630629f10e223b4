#!/usr/bin/env bash
# talvo and talvo-pack of a baseline commit against the working tree, in the same run on the same
# machine: unpack and pack speed (MB of Ogg per second of CPU time and of wall time), peak memory, the
# fixed cost of a 4 KB archive (CPU time, page faults) and of packing a 4 KB Ogg file, and the ratios.
# The working tree's bench_talvo_restore adds decisions per second and the decode_bit ceiling.
#
# The baseline is exported (git archive) under build-baseline/ (ignored) and built there in Release;
# the working tree's programs come from build/ (scripts/build.sh native). The corpus is
# made once: oggenc at five qualities, ffmpeg's libvorbis and native encoders, the files with one-byte
# packets of tests/data, and real game music from an old libVorbis (1.0 to 1.2) out of a Debian game
# data package (apt-get download, dpkg-deb -x; nothing of it is committed). Every figure is given for
# the whole corpus and by file size (below 64 KB, 64 KB to 1 MB, 1 MB and more, the last split into the
# game music and current encoders' output), so that fixed cost and per-byte cost are never mixed.
# Every time is the best of several runs of the command (CORPUS_ROUNDS, default 3, per corpus file;
# ROUNDS, default 40, for the small file), measured by bench_run_measured.
# Usage: bench/talvo_speed.sh [BASELINE_COMMIT] [CORPUS_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
baseline="${1:-e68223f}"
corpus="${2:-${TMPDIR:-/tmp}/talvo_speed_corpus}"
rounds="${ROUNDS:-40}"               # small-file figures: the best of this many runs
corpus_rounds="${CORPUS_ROUNDS:-3}" # corpus figures: the best of this many runs of each command
work="$(mktemp -d "${TMPDIR:-/tmp}/talvo_speed.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# 1. The baseline, in its own source and build directories.
base_src="$root/build-baseline/src-$baseline"
base_build="$root/build-baseline/build-$baseline"
if [ ! -f "$base_src/CMakeLists.txt" ]; then
  mkdir -p "$base_src"
  git -C "$root" archive "$baseline" | tar -x -C "$base_src"
fi
launcher=()
export CCACHE_BASEDIR="$base_src" CCACHE_NOHASHDIR=1 CCACHE_SLOPPINESS=pch_defines,time_macros
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
gen=()
command -v ninja > /dev/null && gen=(-G Ninja)
cmake -S "$base_src" -B "$base_build" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_BENCHMARKS=OFF > /dev/null
cmake --build "$base_build" -j 2 --target talvo talvo-pack > /dev/null
CCACHE_BASEDIR="$root" cmake --build "$root/build" -j 2 --target talvo talvo-pack bench_talvo_restore \
  bench_run_measured > /dev/null
runner="$root/build/bin/bench_run_measured"
base_bin="$base_build/bin"
new_bin="$root/build/bin"

# 2. The corpus.
mkdir -p "$corpus"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
if [ ! -f "$corpus/.complete" ]; then
  signals=(
    "aevalsrc=0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*3*t))+0.2*sin(2*PI*330*t)+0.15*sin(2*PI*440*t+sin(2*PI*5*t))+0.05*(random(0)-0.5):s=44100"
    "aevalsrc=0.4*sin(2*PI*(110+40*sin(2*PI*0.2*t))*t)*exp(-3*mod(t\,0.5))+0.1*(random(0)-0.5)*exp(-20*mod(t\,0.25)):s=44100"
  )
  for i in "${!signals[@]}"; do
    wav="$work/signal$i.wav"
    ff -f lavfi -i "${signals[$i]}" -t 30 -ac 2 -c:a pcm_s16le "$wav"
    for q in 0 3 6 8 10; do
      oggenc -Q -s $((1000 + i)) -q $q -o "$corpus/s${i}_oggenc_q$q.ogg" "$wav" 2> /dev/null
    done
    ff -i "$wav" -c:a libvorbis -q:a 4 -fflags +bitexact -flags:a +bitexact "$corpus/s${i}_ffmpeg_libvorbis.ogg"
    ff -i "$wav" -c:a vorbis -strict -2 -fflags +bitexact -flags:a +bitexact "$corpus/s${i}_ffmpeg_vorbis.ogg"
  done
  for f in "$root"/tests/data/one-byte-packets/*.ogg; do cp "$f" "$corpus/one_byte_$(basename "$f")"; done
  # Game music and sounds (Frozen Bubble's, libVorbis 1.1.1 and 1.2.3), kept where the vendor string
  # names a libVorbis of 1.0 to 1.2 (dated before 1.3.0's 20100325).
  (cd "$work" && apt-get download -q frozen-bubble-data > apt.log 2>&1 && dpkg-deb -x frozen-bubble-data_*.deb game) ||
    { cat "$work/apt.log" >&2; echo "could not fetch frozen-bubble-data" >&2; exit 1; }
  while IFS= read -r f; do
    vendor_date=$(ogginfo "$f" 2> /dev/null | sed -n 's/.*Vendor: Xiph.Org libVorbis I \([0-9]*\).*/\1/p' | head -1)
    if [ -n "$vendor_date" ] && [ "$vendor_date" -lt 20100325 ]; then cp "$f" "$corpus/game_$(basename "$f")"; fi
  done < <(find "$work/game" -name '*.ogg')
  # The small file: a quarter of a second, about 4 KB.
  mkdir -p "$corpus/small"
  ff -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 0.25 -ac 1 -c:a pcm_s16le "$work/small.wav"
  oggenc -Q -s 3000 -q 3 -o "$corpus/small/small.ogg" "$work/small.wav" 2> /dev/null
  touch "$corpus/.complete"
fi
files=("$corpus"/*.ogg)
total=$(cat "${files[@]}" | wc -c)
small="$corpus/small/small.ogg"

# One run of one figure's command for one build, through bench_run_measured:
# "wall cpu peak_kb minor_faults" (CPU time to the microsecond: /usr/bin/time's hundredths are as large
# as the whole run of a small file).
run_figure() {
  local figure="$1" bin="$2" tag="$3" f="$4" name="$5"
  case "$figure" in
    pack) "$runner" -r "$work/$tag-$name.talvo" 1 "$bin/talvo-pack" -q -f -j 1 "$f" "$work/$tag-$name.talvo" ;;
    pass)
      "$runner" -r "$work/$tag-pass.talvo" 1 "$bin/talvo-pack" -q -f -j 1 -s 0 --no-carry --no-verify "$f" \
        "$work/$tag-pass.talvo"
      ;;
    unpack) "$runner" -r "$work/$tag.out" 1 "$bin/talvo" "$work/$tag-$name.talvo" "$work/$tag.out" ;;
  esac
}

# Every figure of every corpus file for both builds, `corpus_rounds` runs each, the two builds taking
# turns run by run so that the machine's slower spells fall on both alike. Writes lines
# "figure build wall cpu peak_kb" to $work/runs.txt.
measure_corpus() {
  local f name figure round tag bin
  : > "$work/runs.txt"
  for f in "${files[@]}"; do
    name=$(basename "$f")
    for figure in pack pass unpack; do
      for round in $(seq "$corpus_rounds"); do
        for tag in base new; do
          bin="$base_bin"
          [ "$tag" = new ] && bin="$new_bin"
          echo "$figure $tag $name $(run_figure "$figure" "$bin" "$tag" "$f" "$name")" >> "$work/runs.txt"
        done
      done
      if [ "$figure" = unpack ]; then
        for tag in base new; do
          cmp -s "$f" "$work/$tag.out" || { echo "$tag: talvo restored $name differently" >&2; exit 1; }
        done
      fi
    done
  done
}

# Sums over the corpus (or over the files named in the file $2) of each file's best run, for one build:
# "pack_wall pack_cpu pack_kb pass_wall pass_cpu pass_kb unpack_wall unpack_cpu unpack_kb".
corpus_figures() {
  awk -v tag="$1" -v names="${2:-}" 'BEGIN { if (names != "") while ((getline n < names) > 0) keep[n] = 1 }
    $2 == tag && (names == "" || $3 in keep) {
      key = $1 " " $3
      if (!(key in wall) || $4 < wall[key]) wall[key] = $4
      if (!(key in cpu) || $5 < cpu[key]) cpu[key] = $5
      if ($6 > kb[$1]) kb[$1] = $6
    }
    END {
      for (key in wall) { split(key, part, " "); w[part[1]] += wall[key]; c[part[1]] += cpu[key] }
      printf "%f %f %d %f %f %d %f %f %d\n", w["pack"], c["pack"], kb["pack"], w["pass"], c["pass"], kb["pass"],
        w["unpack"], c["unpack"], kb["unpack"]
    }' "$work/runs.txt"
}

# One small command writing the file $1: "cpu_ms minor_faults wall_ms", the best of `rounds` runs, the
# file made afresh by each (as a restore into a new name does).
small_figures() {
  local output="$1"
  shift
  "$runner" -r "$output" "$rounds" "$@" | awk '{ printf "%.2f %d %.2f\n", $2 * 1000, $4, $1 * 1000 }'
}

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "corpus: ${#files[@]} files, $total bytes; small file $(wc -c < "$small") bytes; baseline $baseline"

measure_corpus
read -r bpw bpc bpk bow boc bok buw buc buk < <(corpus_figures base)
read -r npw npc npk now noc nok nuw nuc nuk < <(corpus_figures new)
# The same archives up to the end of the shorter one: a checksum frame after the end marker, which
# one of the two builds may write and the other not, aside.
archives_agree() {
  local a b n
  a=$(wc -c < "$1")
  b=$(wc -c < "$2")
  n=$(( a < b ? a : b ))
  cmp -s -n "$n" "$1" "$2"
}
for f in "${files[@]}"; do
  name=$(basename "$f")
  archives_agree "$work/base-$name.talvo" "$work/new-$name.talvo" || { echo "archives differ: $name" >&2; exit 1; }
done
"$base_bin/talvo-pack" -q -f "$small" "$work/small.talvo"
read -r bsu_c bsu_r bsu_w < <(small_figures "$work/small.out" "$base_bin/talvo" "$work/small.talvo" "$work/small.out")
read -r nsu_c nsu_r nsu_w < <(small_figures "$work/small.out" "$new_bin/talvo" "$work/small.talvo" "$work/small.out")
read -r bsp_c bsp_r bsp_w < <(small_figures "$work/small2.talvo" "$base_bin/talvo-pack" -q -f -j 1 "$small" "$work/small2.talvo")
read -r nsp_c nsp_r nsp_w < <(small_figures "$work/small2.talvo" "$new_bin/talvo-pack" -q -f -j 1 "$small" "$work/small2.talvo")

mb=$(echo "scale=6; $total / 1000000" | bc)
awk -v mb="$mb" \
  -v bpw="$bpw" -v bpc="$bpc" -v bpk="$bpk" -v bow="$bow" -v boc="$boc" -v bok="$bok" -v buw="$buw" -v buc="$buc" -v buk="$buk" \
  -v npw="$npw" -v npc="$npc" -v npk="$npk" -v now="$now" -v noc="$noc" -v nok="$nok" -v nuw="$nuw" -v nuc="$nuc" -v nuk="$nuk" \
  -v bsu_c="$bsu_c" -v bsu_r="$bsu_r" -v bsu_w="$bsu_w" -v nsu_c="$nsu_c" -v nsu_r="$nsu_r" -v nsu_w="$nsu_w" \
  -v bsp_c="$bsp_c" -v bsp_r="$bsp_r" -v bsp_w="$bsp_w" -v nsp_c="$nsp_c" -v nsp_r="$nsp_r" -v nsp_w="$nsp_w" 'BEGIN {
  print "| figure | baseline | this tree | ratio |"
  print "|---|---|---|---|"
  row("talvo unpack, MB/s of CPU time", mb / buc, mb / nuc, "%.2f")
  row("talvo unpack, MB/s of wall time", mb / buw, mb / nuw, "%.2f")
  row("talvo-pack default -j 1, MB/s of CPU time", mb / bpc, mb / npc, "%.2f")
  row("talvo-pack default -j 1, MB/s of wall time", mb / bpw, mb / npw, "%.2f")
  row("talvo-pack -s 0 --no-carry --no-verify, MB/s of CPU time", mb / boc, mb / noc, "%.2f")
  row("talvo-pack -s 0 --no-carry --no-verify, MB/s of wall time", mb / bow, mb / now, "%.2f")
  row("talvo unpack peak memory, MiB", buk / 1024, nuk / 1024, "%.1f")
  row("talvo-pack default peak memory, MiB", bpk / 1024, npk / 1024, "%.1f")
  row("talvo on the 4 KB archive, CPU ms", bsu_c, nsu_c, "%.1f")
  row("talvo on the 4 KB archive, wall ms", bsu_w, nsu_w, "%.1f")
  row("talvo on the 4 KB archive, page faults", bsu_r, nsu_r, "%d")
  row("talvo-pack on the 4 KB Ogg, CPU ms", bsp_c, nsp_c, "%.1f")
  row("talvo-pack on the 4 KB Ogg, wall ms", bsp_w, nsp_w, "%.1f")
}
function row(name, b, n, fmt) {
  printf "| %s | " fmt " | " fmt " | %.2f |\n", name, b, n, (b > 0 ? n / b : 0)
}'
echo "Archives of every corpus file identical between baseline and this tree."

# The same figures (CPU time) by file size.
echo
echo "| files | count | MB | unpack MB/s, baseline | this tree | ratio | pack default -j 1 MB/s, baseline | this tree | ratio | pack one pass, ratio |"
echo "|---|---|---|---|---|---|---|---|---|---|"
size_group() { # NAME TEST: files whose size in bytes passes the awk test on $1 (size) and $2 (name)
  local group="$1" test="$2" f
  : > "$work/group.txt"
  local bytes=0
  for f in "${files[@]}"; do
    local size name
    size=$(wc -c < "$f")
    name=$(basename "$f")
    if awk -v s="$size" -v n="$name" "BEGIN { exit !($test) }"; then
      echo "$name" >> "$work/group.txt"
      bytes=$((bytes + size))
    fi
  done
  local count
  count=$(wc -l < "$work/group.txt")
  [ "$count" -gt 0 ] || return 0
  read -r _ bpc _ _ boc _ _ buc _ < <(corpus_figures base "$work/group.txt")
  read -r _ npc _ _ noc _ _ nuc _ < <(corpus_figures new "$work/group.txt")
  awk -v g="$group" -v c="$count" -v mb="$(echo "scale=6; $bytes / 1000000" | bc)" -v bpc="$bpc" -v npc="$npc" \
    -v boc="$boc" -v noc="$noc" -v buc="$buc" -v nuc="$nuc" 'BEGIN {
    printf "| %s | %d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", g, c, mb, mb / buc, mb / nuc,
      buc / nuc, mb / bpc, mb / npc, bpc / npc, boc / noc }'
}
size_group "below 64 KB" 's < 65536'
size_group "64 KB to 1 MB" 's >= 65536 && s < 1000000'
size_group "1 MB and more, game music (libVorbis 1.0-1.2)" 's >= 1000000 && n ~ /^game_/'
size_group "1 MB and more, current encoders" 's >= 1000000 && n !~ /^game_/'

# 3. Decisions per second and the decode_bit ceiling, for the largest corpus file (this tree only: the
# decision count is a property of the archive, the same for both builds).
largest=$(ls -S "${files[@]}" | head -1)
"$new_bin/bench_talvo_restore" "$largest"
