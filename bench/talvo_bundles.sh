#!/usr/bin/env bash
# Bundles against the same files packed one by one, on three folders from Debian data packages: the
# short effects of a sound theme and two game music packages. For each folder:
#  - sizes (archive bytes over input bytes): per file, the members concatenated in path order and packed
#    as one chained Ogg file, the bundle, and `xz -9e` of that concatenation;
#  - times, wall and CPU seconds, the fastest of ROUNDS (default 3) rounds in which files and bundle take
#    turns: packing and restoring, with -j 1 and -j 2 ("per file" is -r over a copy of the folder and -d
#    of its archives);
#  - the checks that make the figures count: every restored tree is the folder (`diff -r`, and for the
#    bundle modification times and permission bits too), the bundle is the same for -j 1 and -j 2, and
#    `talvo` restores the bundle as the concatenation that `talvo-pack -dc` gives.
# BIG=1 adds peak memory packing and restoring a folder of ten copies of the largest folder (of those
# measured: FOLDERS="theme" measures the theme only).
#
# The packages are fetched once (apt-get download) into DATA_DIR and unpacked there; nothing of them is
# committed. The programs come from build/ (scripts/build.sh native).
# Usage: bench/talvo_bundles.sh [DATA_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
data="${1:-${TMPDIR:-/tmp}/talvo_bundle_sets}"
rounds="${ROUNDS:-3}"
bin="$root/build/bin"
work="$(mktemp -d "${TMPDIR:-/tmp}/talvo_bundles.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cmake --build "$root/build" -j 2 --target talvo talvo-pack bench_run_measured > /dev/null
runner="$bin/bench_run_measured"

# 1. The folders: sets/theme, sets/music_a, sets/music_b.
sets="$data/sets"
if [ ! -f "$data/.complete" ]; then
  mkdir -p "$data/deb" "$sets"
  for package in sound-theme-freedesktop supertux-data hedgewars-data; do
    compgen -G "$data/deb/${package}_*.deb" > /dev/null && continue
    (cd "$data/deb" && apt-get download -q "$package" > apt.log 2>&1) ||
      { cat "$data/deb/apt.log" >&2; echo "could not fetch $package" >&2; exit 1; }
  done
  for deb in "$data"/deb/*.deb; do dpkg-deb -x "$deb" "$data/tree"; done
  rm -rf "${sets:?}"/*
  # The theme names some sounds twice through symbolic links: they are taken as the files they name.
  cp -RL --preserve=all "$data/tree/usr/share/sounds/freedesktop/stereo" "$sets/theme"
  cp -a "$data/tree/usr/share/games/supertux2/music/misc" "$sets/music_a"
  mkdir "$sets/music_b"
  # The eleven smallest pieces of the game's music, to keep the set near the size of the others.
  find "$data/tree/usr/share/games/hedgewars/Data/Music" -maxdepth 1 -name '*.ogg' -printf '%s %p\n' |
    sort -n | head -11 | cut -d' ' -f2- | while IFS= read -r f; do cp -a "$f" "$sets/music_b/"; done
  rm -rf "$data/tree"
  touch "$data/.complete"
fi
read -r -a folders <<< "${FOLDERS:-theme music_a music_b}" # FOLDERS: some of them only

# One timed run: "wall cpu peak_kb", the command run in $sets so that member paths are the folder's name
# and below.
measure() { (cd "$sets" && "$runner" 1 "$@") | awk '{ printf "%.2f %.2f %d\n", $1, $2, $3 }'; }

# The folder packed file by file into $work/pf (archives only, the same tree), timed.
pack_files() {
  rm -rf "$work/pf"
  cp -a "$sets/$1" "$work/pf"
  measure "$bin/talvo-pack" -q -j "$2" -r "$work/pf"
  find "$work/pf" -type f ! -name '*.talvo' -delete
}
restore_files() {
  local archives
  mapfile -t archives < <(find "$work/pf" -name '*.talvo')
  measure "$bin/talvo-pack" -q -j "$2" -d --rm "${archives[@]}"
  diff -r "$sets/$1" "$work/pf" > /dev/null || { echo "$1: files restored one by one differ" >&2; exit 1; }
}
pack_bundle() {
  rm -f "$work/b$2.talvo"
  measure "$bin/talvo-pack" -q -j "$2" -o "$work/b$2.talvo" "$1"
}
restore_bundle() {
  rm -rf "$work/r"
  mkdir "$work/r"
  measure "$bin/talvo-pack" -q -j "$2" -d -C "$work/r" "$work/b$2.talvo"
  diff -r "$sets/$1" "$work/r/$1" > /dev/null || { echo "$1: the bundle restored differently" >&2; exit 1; }
  [ "$(cd "$sets" && find "$1" -type f -printf '%P %m %T@\n' | sort)" = \
    "$(cd "$work/r" && find "$1" -type f -printf '%P %m %T@\n' | sort)" ] ||
    { echo "$1: the bundle restored other times or permission bits" >&2; exit 1; }
}

# One of the steps above, in this shell (so that a failed check ends the script), its time appended to
# $work/times.txt as "NAME wall cpu peak_kb".
timed() {
  local name="$1"
  shift
  "$@" > "$work/one.txt"
  echo "$name $(cat "$work/one.txt")" >> "$work/times.txt"
}

# "wall cpu" pairs, the fastest of the rounds, per figure.
best() { awk -v f="$1" '$1 == f { if (!n++ || $2 < w) w = $2; if (n == 1 || $3 < c) c = $3 } END { printf "%.2f / %.2f", w, c }' "$work/times.txt"; }

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| folder | files, bytes | per file | one chained file | bundle | xz -9e of the concatenation |"
echo "|---|---|---|---|---|---|"
for f in "${folders[@]}"; do
  mapfile -t members < <(cd "$sets" && find "$f" -type f | LC_ALL=C sort)
  (cd "$sets" && cat "${members[@]}") > "$work/chained.ogg"
  total=$(wc -c < "$work/chained.ogg")
  "$bin/talvo-pack" -q -f -o "$work/chained.talvo" "$work/chained.ogg"
  pack_bundle "$f" 1 > /dev/null
  pack_bundle "$f" 2 > /dev/null
  cmp -s "$work/b1.talvo" "$work/b2.talvo" || { echo "$f: the bundle differs between -j 1 and -j 2" >&2; exit 1; }
  "$bin/talvo" "$work/b2.talvo" "$work/talvo.out" > /dev/null
  "$bin/talvo-pack" -q -dc "$work/b2.talvo" | cmp -s - "$work/talvo.out" ||
    { echo "$f: talvo and talvo-pack -dc restore the bundle differently" >&2; exit 1; }
  pack_files "$f" 2 > /dev/null
  per_file=$(find "$work/pf" -name '*.talvo' -printf '%s\n' | awk '{ s += $1 } END { print s }')
  xz_bytes=$(xz -9e -T1 -c "$work/chained.ogg" | wc -c)
  awk -v f="$f" -v n="${#members[@]}" -v t="$total" -v p="$per_file" -v c="$(wc -c < "$work/chained.talvo")" \
    -v b="$(wc -c < "$work/b2.talvo")" -v x="$xz_bytes" 'BEGIN {
      printf "| %s | %d, %d | %.3f | %.5f (%d) | **%.5f** (%d) | %.3f |\n", f, n, t, p / t, c / t, c, b / t, b, x / t }'
done

echo
echo "Seconds, wall / CPU (user and system), the fastest of $rounds rounds taking turns:"
echo
echo "| folder | | pack -j 1 | pack -j 2 | restore -j 1 | restore -j 2 |"
echo "|---|---|---|---|---|---|"
for f in "${folders[@]}"; do
  : > "$work/times.txt"
  for _ in $(seq "$rounds"); do
    for j in 1 2; do
      timed "files-pack-$j" pack_files "$f" "$j"
      timed "files-restore-$j" restore_files "$f" "$j"
      timed "bundle-pack-$j" pack_bundle "$f" "$j"
      timed "bundle-restore-$j" restore_bundle "$f" "$j"
    done
  done
  echo "| $f | per file | $(best files-pack-1) | $(best files-pack-2) | $(best files-restore-1) | $(best files-restore-2) |"
  echo "| | bundle | $(best bundle-pack-1) | $(best bundle-pack-2) | $(best bundle-restore-1) | $(best bundle-restore-2) |"
done

if [ "${BIG:-0}" = 1 ]; then
  # Ten copies of the largest folder, hard links: the packer reads them as ten folders of members.
  big="$(cd "$sets" && du -sb "${folders[@]}" | sort -n | tail -1 | cut -f2)"
  rm -rf "$sets/tenfold"
  mkdir "$sets/tenfold"
  for k in 0 1 2 3 4 5 6 7 8 9; do cp -al "$sets/$big" "$sets/tenfold/copy$k"; done
  echo
  bytes=$(find "$sets/tenfold" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
  echo "Ten copies of $big ($bytes bytes): seconds wall / CPU, peak resident MiB"
  : > "$work/times.txt"
  timed pack-1 pack_bundle tenfold 1
  timed pack-2 pack_bundle tenfold 2
  cmp -s "$work/b1.talvo" "$work/b2.talvo" || { echo "tenfold: the bundle differs between -j 1 and -j 2" >&2; exit 1; }
  timed restore restore_bundle tenfold 1
  awk -v bytes="$(wc -c < "$work/b1.talvo")" '{
      printf "%s: %.2f / %.2f s, %d MiB%s\n", $1, $2, $3, $4 / 1024, ($1 ~ /pack/ ? ", archive " bytes " bytes" : "") }' \
    "$work/times.txt"
  rm -rf "$sets/tenfold"
fi
