#!/usr/bin/env bash
# Raw-item unpack throughput: talvo restoring a 200 MB raw-item archive against `cat` copying the
# same archive, both from a warm page cache into the same directory.
# Usage: bench/talvo_raw_unpack.sh [BUILD_BIN_DIR] [MEGABYTES]
set -euo pipefail
bin="${1:-build/bin}"
mb="${2:-200}"
work="$(mktemp -d "${TMPDIR:-/tmp}/talvo_raw_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

head -c "$((mb * 1024 * 1024))" /dev/urandom > "$work/input.bin"
"$bin/talvo-pack" -o "$work/archive.tlv" "$work/input.bin" > /dev/null
cat "$work/archive.tlv" > /dev/null # warm the page cache

best() { # command... : best wall time of 5 runs, in seconds
  local best_t=999999
  for _ in 1 2 3 4 5; do
    rm -f "$work/out.bin"
    local t0 t1
    t0=$(date +%s.%N)
    "$@" > /dev/null
    t1=$(date +%s.%N)
    best_t=$(echo "$t1 - $t0" | bc | awk -v b="$best_t" '{ print ($1 < b) ? $1 : b }')
  done
  echo "$best_t"
}

t_talvo=$(best "$bin/talvo" "$work/archive.tlv" "$work/out.bin")
cmp -s "$work/input.bin" "$work/out.bin" || { echo "talvo restored different bytes" >&2; exit 1; }
t_cat=$(best sh -c "cat '$work/archive.tlv' > '$work/out.bin'")
awk -v mb="$mb" -v a="$t_talvo" -v c="$t_cat" 'BEGIN {
  printf "talvo: %.3f s (%.0f MB/s)\ncat:   %.3f s (%.0f MB/s)\nratio talvo/cat: %.2f\n", a, mb / a, c, mb / c, a / c }'
