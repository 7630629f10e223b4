#!/usr/bin/env bash
# Remakes the Ogg files here with the encoders, and the archive of every file the byte-identity test
# checks: NAME.talvo is what talvo-pack with default settings makes of NAME.ogg, which lies here or in
# ../conformance or ../one-byte-packets. The files are committed, so the test does not depend on encoder
# versions; rerun this only on purpose, when the archive format or the packer's choices change.
# Usage: make.sh BUILD_BIN_DIR   (needs oggenc, ffmpeg and a built talvo-pack)
set -euo pipefail
bin=$(cd "${1:?usage: make.sh BUILD_BIN_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
wav() { # name rate channels seconds expression
  ff -f lavfi -i "aevalsrc='$5':s=$2:d=$4" -ac "$3" -c:a pcm_s16le -map_metadata -1 -fflags +bitexact "$1.wav"
}
music="(0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*3*t))+0.2*sin(2*PI*330*t)+0.15*sin(2*PI*440*t+sin(2*PI*5*t))+0.05*(random(0)-0.5))"
tone="(0.4*sin(2*PI*523*t)*exp(-2*t)+0.1*sin(2*PI*1046*t))"
wav tone22m 22050 1 1 "$tone"
wav music22m 22050 1 1 "$music"
wav music44s 44100 2 3 "$music"

# A chain: a stream, the same stream under another serial number (a repeat item), a few foreign bytes
# (raw), and a second stream with the same encoder settings (its comment and setup pages a header copy).
oggenc -Q -s 1501 -q 0 -o a.ogg tone22m.wav
oggenc -Q -s 1502 -q 0 -o b.ogg tone22m.wav
oggenc -Q -s 1503 -q 0 -o c.ogg music22m.wav
printf 'not an Ogg page: bytes between two streams\n' > junk.bin
cat a.ogg b.ogg junk.bin c.ogg > chained.ogg

# A file cut short inside a page: its leading pages are modelled, the rest is stored raw.
oggenc -Q -s 1504 -q 4 -o whole.ogg music44s.wav
head -c $(( $(stat -c %s whole.ogg) * 2 / 3 )) whole.ogg > cut.ogg

cp chained.ogg cut.ogg "$here/"
cd "$here"
for f in chained cut; do "$bin/talvo-pack" -q -f "$f.ogg" "$f.talvo"; done
for f in native-encoder surround-q4 tone-8k-qm1; do "$bin/talvo-pack" -q -f "../conformance/$f.ogg" "$f.talvo"; done
for f in ../one-byte-packets/*.ogg; do "$bin/talvo-pack" -q -f "$f" "$(dirname "$f")/$(basename "$f" .ogg).talvo"; done
ls -l "$here"
