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
for f in "$root"/tests/data/conformance/*.ogg "$root"/tests/data/one-byte-packets/*.ogg; do
  archive="$work/$(basename "$f" .ogg).talvo"
  "$bin/talvo-pack" -q -f -j 1 "$f" "$archive"
  "$bin/talvo" "$archive" "$work/restored.ogg"
  cmp -s "$f" "$work/restored.ogg" || { echo "pgo training: $f did not restore" >&2; exit 1; }
done
