#!/usr/bin/env bash
# Throughput of splice against dd conv=notrunc bs=1M: both write the same 1 GiB source into one target
# at the same unaligned offset, with every file in the page cache. Prints both throughputs (best and
# median of the rounds) and their ratio splice/dd.
# Usage: bench/splice_vs_dd.sh [SPLICE_PROGRAM]   (env: SIZE_MIB=1024 ROUNDS=5 OFFSET=0x1234567)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
splice="${1:-$root/build/bin/splice}"
size_mib="${SIZE_MIB:-1024}"
rounds="${ROUNDS:-5}"
offset="$((${OFFSET:-0x1234567}))"
[ -x "$splice" ] || { echo "no splice program at $splice (build it first)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/splice-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
bytes=$((size_mib << 20))
need_kib=$(((2 * bytes + offset) / 1024 + 65536))
have_kib="$(df -Pk "$work" | awk 'NR==2 {print $4}')"
[ "$have_kib" -gt "$need_kib" ] || { echo "not enough disk space in $work" >&2; exit 2; }

head -c "$bytes" /dev/urandom > "$work/source"
# One target, already at its final size, for both tools: they overwrite the same cached pages in place.
head -c $((bytes + offset)) /dev/zero > "$work/target"
cat "$work/source" "$work/target" > /dev/null

now() { date +%s.%N; }
run_splice() { "$splice" "$work/target" "$work/source" "$(printf '%X' "$offset")"; }
run_dd() { dd if="$work/source" of="$work/target" bs=1M conv=notrunc oflag=seek_bytes seek="$offset" status=none; }
clear_region() { dd if=/dev/zero of="$work/target" bs=1M count="$size_mib" conv=notrunc oflag=seek_bytes \
  seek="$offset" status=none; }

for ((round = 0; round < rounds; round++)); do
  order=(splice dd)
  ((round % 2)) && order=(dd splice)
  for tool in "${order[@]}"; do
    # Untimed: wipe the region (so the check below sees this run's bytes) and flush dirty pages, so
    # neither run inherits the other's write-back.
    clear_region
    sync
    start="$(now)"
    "run_$tool"
    seconds="$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.6f", b - a }')"
    cmp -s -i "$offset:0" -n "$bytes" "$work/target" "$work/source" || { echo "$tool wrote wrong bytes" >&2; exit 1; }
    printf '  round %d %-6s %.3f s\n' "$round" "$tool" "$seconds"
    echo "$tool $seconds" >> "$work/times"
  done
done

# Best of the rounds (least disturbed by other load) and median, per tool.
stat() { awk -v t="$1" '$1 == t { print $2 }' "$work/times" | sort -g | awk -v k="$2" '
  { v[NR] = $1 } END { print (k == "best") ? v[1] : (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
for kind in best median; do
  awk -v mib="$size_mib" -v kind="$kind" -v s="$(stat splice "$kind")" -v d="$(stat dd "$kind")" 'BEGIN {
    printf "%-6s splice %6.0f MiB/s   dd %6.0f MiB/s   ratio splice/dd %.3f\n", kind, mib / s, mib / d, d / s
  }'
done
