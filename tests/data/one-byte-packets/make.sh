#!/usr/bin/env bash
# Remakes the Ogg files here and their archives: real encoder output (oggenc, ffmpeg's libvorbis) with
# one-byte audio packets, natural (digital silence) or cut with cut_audio_packets. The files are
# committed, so the tests do not depend on encoder versions; rerun this only to change them. Stereo and
# 5.1 are encoded at a quality where their modelled form is smaller than the file, so that their
# archives hold modelled streams.
# Usage: make.sh BUILD_BIN_DIR   (needs oggenc, oggdec, ffmpeg, and cut_audio_packets and talvo-pack built)
set -euo pipefail
bin=$(cd "${1:?usage: make.sh BUILD_BIN_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
# A chord with a little noise and a tremolo, as in tests/samples/make_samples.sh.
music="(0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*3*t))+0.2*sin(2*PI*330*t)+0.15*sin(2*PI*440*t+sin(2*PI*5*t))+0.05*(random(0)-0.5))"
# The same, exactly zero outside 0.6-1.6 s, 1.75-1.8 s and 2.4-3.2 s: undithered digital silence at the
# start, between the sounds (one gap only a few blocks long) and at the end.
gate="(between(t,0.6,1.6)+between(t,1.75,1.8)+between(t,2.4,3.2))"
wav() { # name rate channels seconds expression
  ff -f lavfi -i "aevalsrc='$5':s=$2:d=$4" -ac "$3" -c:a pcm_s16le -map_metadata -1 -fflags +bitexact "$1.wav"
}
wav gaps44m 44100 1 4 "$music*$gate"
wav gaps44s 44100 2 4 "$music*$gate"
wav silence44s 44100 2 1 "0"
wav silence22m 22050 1 1 "0"
wav music44m 44100 1 3 "$music"
wav music44s 44100 2 2 "$music"
# 5.1 with a different chord in every channel.
chord() { echo "(0.3*sin(2*PI*$1*t)*(0.6+0.4*sin(2*PI*3*t))+0.2*sin(2*PI*$2*t)+0.05*(random(0)-0.5))"; }
ff -f lavfi -i "aevalsrc='$(chord 220 330)|$(chord 247 370)|$(chord 262 392)|$(chord 60 90)|$(chord 294 440)|$(chord 330 494)':s=48000:d=1:c=5.1" \
  -c:a pcm_s16le -map_metadata -1 -fflags +bitexact music48_51.wav

oggenc -Q -s 1301 -q 1 -o oggenc-gaps-mono.ogg gaps44m.wav
oggenc -Q -s 1302 -q 5 -o oggenc-gaps-stereo.ogg gaps44s.wav
oggenc -Q -s 1303 -q 0 -o oggenc-silence-stereo.ogg silence44s.wav
lib() { ff -i "$1" -c:a libvorbis -q:a "$2" -fflags +bitexact -flags:a +bitexact "$3"; }
lib gaps44m.wav 1 libvorbis-gaps-mono.ogg
lib gaps44s.wav 5 libvorbis-gaps-stereo.ogg
lib silence22m.wav 2 libvorbis-silence-mono.ogg

# Cut packets: the first one, a run, single ones between full packets, the last of some pages and the
# last of the stream. In 5.1 the floor flags of a cut long-block packet run past its byte and those of
# a cut short-block packet fill it exactly.
oggenc -Q -s 1304 -q 2 -o music-mono.ogg music44m.wav
"$bin/cut_audio_packets" music-mono.ogg oggenc-cut-mono.ogg 0,40-79,every/25,page-ends/3,last
oggenc -Q -s 1305 -q 5 -o music-51.ogg music48_51.wav
"$bin/cut_audio_packets" music-51.ogg oggenc-cut-51.ogg 0,30-59,every/20,page-ends/2,last
lib music44s.wav 5 music-stereo.ogg
"$bin/cut_audio_packets" music-stereo.ogg libvorbis-cut-stereo.ogg 0-1,50-69,every/17,page-ends/2,last

for f in oggenc-*.ogg libvorbis-*.ogg; do
  oggdec -Q -o /dev/null "$f"
  "$bin/talvo-pack" -q -f "$f" "${f%.ogg}.talvo"
  cp "$f" "${f%.ogg}.talvo" "$here/"
done
ls -l "$here"
