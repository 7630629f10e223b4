#!/usr/bin/env bash
# The training run of talvo's profile-guided build: the instrumented talvo-pack packs every committed
# sample with its default settings (trials and verification, so unpacking is trained too) and talvo
# restores each archive. Small files of many kinds: the profile wants the paths real files take, not
# their length, and the whole run takes seconds.
# Usage: scripts/pgo_train.sh INSTRUMENTED_BIN_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/talvo_pgo.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# Address randomisation off where the system allows it: the values the instrumented code records
# (call targets, pointers) then come out the same in every run, so an unchanged tree trains to the same
# profiles and scripts/build.sh does not recompile talvo.
same_addresses=()
if setarch "$(uname -m)" -R true 2>/dev/null; then same_addresses=(setarch "$(uname -m)" -R); fi
for f in "$root"/tests/data/conformance/*.ogg "$root"/tests/data/one-byte-packets/*.ogg; do
  archive="$work/$(basename "$f" .ogg).talvo"
  "${same_addresses[@]}" "$bin/talvo-pack" -q -f -j 1 "$f" "$archive"
  "${same_addresses[@]}" "$bin/talvo" "$archive" "$work/restored.ogg"
  cmp -s "$f" "$work/restored.ogg" || { echo "pgo training: $f did not restore" >&2; exit 1; }
done
