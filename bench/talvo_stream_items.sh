#!/usr/bin/env bash
# Makes a few longer Ogg Vorbis files with oggenc and ffmpeg and runs bench_talvo_stream_items on them.
# Usage: bench/talvo_stream_items.sh [BUILD_DIR]   (default build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${1:-$root/build}/bin/bench_talvo_stream_items"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
ffmpeg -v error -y -f lavfi -i "aevalsrc=0.3*sin(2*PI*(220+100*sin(t))*t)+0.2*sin(2*PI*1234*t)*sin(t*3)+0.05*(random(0)-0.5):s=44100:d=60,aformat=channel_layouts=stereo" "$dir/music.wav"
oggenc -Q -q 0 -o "$dir/oggenc_q0.ogg" "$dir/music.wav"
oggenc -Q -q 5 -o "$dir/oggenc_q5.ogg" "$dir/music.wav"
oggenc -Q -q 10 -o "$dir/oggenc_q10.ogg" "$dir/music.wav"
ffmpeg -v error -y -i "$dir/music.wav" -c:a libvorbis -q:a 4 "$dir/ffmpeg_libvorbis.ogg"
for f in "$dir"/*.ogg; do
  "$bin" "$f" 0 3
  "$bin" "$f" 8 1
done
