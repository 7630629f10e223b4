#!/usr/bin/env bash
# Seed corpora for the fuzz targets, made from the test files: the sample Ogg files and archives packed
# from them, the FastLZ reference blocks of tests/data, MPLG logs, and a few hand-made strings.
# Usage: fuzz/make_corpus.sh BUILD_DIR (a build with TALVO_SUITE_BUILD_FUZZERS=ON); seeds go to BUILD_DIR/fuzz-seeds,
# made afresh each time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
seeds="$build/fuzz-seeds"
samples="$build/samples"
rm -rf "$seeds"
mkdir -p "$seeds"/{talvo_unpack,talvo_pack,talvo_manifest,fastlz_decompress,utf16_to_utf32,format_string_trunc,mplg_reader}

bash "$root/tests/samples/make_samples.sh" "$samples" >/dev/null

# Small files whole (their streams are modelled, so the archives hold stream items), larger ones cut
# after their headers and first audio pages (kept raw): the fuzzer mutates short inputs far faster.
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for f in "$samples"/*.ogg; do
  name="$(basename "$f" .ogg)"
  if [ "$(stat -c %s "$f")" -le 20000 ]; then cp "$f" "$tmp/$name.ogg"; else head -c 8192 "$f" > "$tmp/$name.ogg"; fi
  # The pack target reads two option bytes first (flags, raw item size); zeros are the defaults.
  { printf '\0\0'; cat "$tmp/$name.ogg"; } > "$seeds/talvo_pack/$name"
  "$build/bin/talvo-pack" "$tmp/$name.ogg" "$seeds/talvo_unpack/$name.talvo" >/dev/null 2>&1
done
printf 'TALVO\0\0' > "$seeds/talvo_unpack/header_only"

vectors="$root/tests/data/fastlz-vectors"
if [ -d "$vectors" ]; then
  for f in "$vectors"/*.l1 "$vectors"/*.l2; do
    [ "$(stat -c %s "$f")" -le 65536 ] && cp "$f" "$seeds/fastlz_decompress/"
  done
fi

python3 - "$seeds" <<'PY'
import os, struct, sys
seeds = sys.argv[1]
def put(target, name, data):
    with open(os.path.join(seeds, target, name), "wb") as f:
        f.write(data)
# UTF-16 strings after the room byte: plain, astral pairs, a lone high and a lone low surrogate.
texts = {"ascii": "talvo archive", "mixed": "Grüße, 世界 😀🎵", "astral": "😀" * 8}
for name, text in texts.items():
    units = text.encode("utf-16-le")
    for room in (0, 1, 4, 64):
        put("utf16_to_utf32", f"{name}_{room}", bytes([room]) + units)
put("utf16_to_utf32", "lone_high", bytes([8]) + struct.pack("<3H", 0x41, 0xD83D, 0x42))
put("utf16_to_utf32", "lone_low", bytes([8]) + struct.pack("<2H", 0xDC00, 0x41))
# Bundle manifests, after a byte that picks the record type (even: plain, odd: compact). Plain: varint
# count, then per member varints shared prefix, rest of the path (and its bytes), length, time step
# (zigzag), permissions, and an 8-byte checksum. Compact: varint count, then per member a head byte
# (time and permission flags, shared prefix), a tail byte (shared suffix, middle length), the middle,
# the length plus one (or 0 and the distance back to a member with the same content), the flagged
# fields and the checksum (none after a 0).
def varint(n):
    out = b""
    while n >= 0x80:
        out += bytes([n & 0x7f | 0x80])
        n >>= 7
    return out + bytes([n])
def manifest(paths):
    out, previous = varint(len(paths)), b""
    for i, path in enumerate(paths):
        raw = path.encode("utf-8")
        shared = len(os.path.commonprefix([previous, raw]))
        out += varint(shared) + varint(len(raw) - shared) + raw[shared:] + varint(100 * i)
        out += varint(2 * 1700000000 * 10**9 if i == 0 else 2) + varint(0o644) + struct.pack("<Q", i)
        previous = raw
    return b"\x00" + out
def compact(paths):
    out, previous = varint(len(paths)), b""
    for i, path in enumerate(paths):
        raw = path.encode("utf-8")
        prefix = len(os.path.commonprefix([previous, raw]))
        suffix = len(os.path.commonprefix([previous[prefix:][::-1], raw[prefix:][::-1]]))
        middle = raw[prefix:len(raw) - suffix]
        out += bytes([min(prefix, 63) << 2 | (1 if i < 2 else 0) | (2 if i == 1 else 0)])
        out += varint(prefix - 63) if prefix >= 63 else b""
        out += bytes([min(len(middle), 31) << 3 | min(suffix, 7)])
        out += varint(suffix - 7) if suffix >= 7 else b""
        out += varint(len(middle) - 31) if len(middle) >= 31 else b""
        out += middle + (varint(0) + varint(1) if i == 4 else varint(100 * i + 1))
        out += varint(2 * 1700000000 * 10**9) if i == 0 else varint(3) if i == 1 else b""
        out += varint(0o755) if i == 1 else b""
        out += b"" if i == 4 else struct.pack("<Q", i)
        previous = raw
    return b"\x01" + out
put("talvo_manifest", "plain", manifest(["a.ogg", "music/level 1/theme.ogg", "Grüße.ogg"]))
put("talvo_manifest", "hostile", manifest(["../up", "/abs", "C:/x", "a\\b", "CON", "a", "a/b"]))
put("talvo_manifest", "compact", compact(["sfx/a.oga", "sfx/b.oga", "sfx/" + "long-name-" * 8 + ".oga",
                                          "sfx/" + "long-name-" * 8 + "2.oga", "Grüße.ogg"]))
put("talvo_manifest", "compact_hostile", compact(["../up", "/abs", "C:/x", "a\\b", "CON", "a", "a/b"]))
# Format inputs are consumed field by field; a few patterns give the fuzzer different starting shapes.
for i, pattern in enumerate([b"\x00" * 64, b"\xff" * 64, bytes(range(64)), bytes(range(255, 0, -3))]):
    put("format_string_trunc", f"pattern_{i}", pattern)
PY

# Every input a fuzzer once broke something with, so each campaign and smoke run retries it under the
# fuzz build's sanitizers (clang's checks see some faults the GCC sanitizer build does not).
for f in "$root"/tests/reliability/inputs/*; do
  [ -f "$f" ] || continue
  name="$(basename "$f")"
  for t in talvo_unpack talvo_pack talvo_manifest fastlz_decompress utf16_to_utf32 format_string_trunc mplg_reader; do
    case "$name" in "$t"_*) cp "$f" "$seeds/$t/" ;; esac
  done
done

# MPLG logs written by the monitor's own writer, when this build has the helper that writes them.
if [ -x "$build/bin/fuzz_mplg_seed_writer" ]; then
  "$build/bin/fuzz_mplg_seed_writer" "$seeds/mplg_reader"
fi
for d in "$seeds"/*; do echo "$(basename "$d"): $(ls "$d" | wc -l) seeds"; done
