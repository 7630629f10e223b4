#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job on a built-in example.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh native
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
printf 'The quick brown fox jumps over the lazy dog.\n' > "$work/target.txt"
printf 'CAT' > "$work/patch.txt"
echo "target before: $(cat "$work/target.txt")"
"$root/build/bin/splice" "$work/target.txt" "$work/patch.txt" 10
echo "after 'splice target patch 10': $(cat "$work/target.txt")"
"$root/build/bin/splice" "$work/target.txt" "$work/patch.txt" len
echo "after 'splice target patch len': $(cat "$work/target.txt")"
