#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job on a built-in example.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh native
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

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
