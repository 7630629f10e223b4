#!/usr/bin/env bash
# Makes the Ogg files the talvo tests run on, with real encoders, into the directory given (default
# ./samples). Each file is made once; a file that exists is kept. Music-like signals come from
# ffmpeg's generators, so nothing here depends on data files.
set -euo pipefail
out="${1:-samples}"
mkdir -p "$out"
cd "$out"
# Bit-exact output options go right before the output file (the last argument).
ff() {
  local args=("$@")
  local last=${args[-1]}
  unset 'args[-1]'
  ffmpeg -nostdin -loglevel error -y "${args[@]}" -fflags +bitexact -flags:a +bitexact "$last"
}

make_wav() { # name seconds rate channels generator
  local name=$1 secs=$2 rate=$3 ch=$4 gen=$5
  [ -f "$name.wav" ] || ff -f lavfi -i "$gen" -t "$secs" -ar "$rate" -ac "$ch" -c:a pcm_s16le -map_metadata -1 "$name.wav"
}

# A chord with a little noise and a tremolo: tonal and transient content both.
music="aevalsrc=0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*3*t))+0.2*sin(2*PI*330*t)+0.15*sin(2*PI*440*t+sin(2*PI*5*t))+0.05*(random(0)-0.5):s=44100"
make_wav music44s 2 44100 2 "$music"
make_wav music44m 2 44100 1 "$music"
make_wav music8m 2 8000 1 "$music"
make_wav music96s 1 96000 2 "$music"
make_wav music48_51 1 48000 6 "$music"
make_wav silence44s 2 44100 2 "anullsrc=r=44100:cl=stereo"

enc() { # out.ogg in.wav oggenc-args...
  local o=$1 i=$2; shift 2
  [ -f "$o" ] || oggenc -Q -s 20261207 "$@" -o "$o" "$i"
}
for q in -1 0 3 6 10; do enc "oggenc_q$q.ogg" music44s.wav -q "$q"; done
enc oggenc_mono.ogg music44m.wav -q 3
enc oggenc_8k.ogg music8m.wav -q 0
enc oggenc_96k.ogg music96s.wav -q 4
enc oggenc_51.ogg music48_51.wav -q 2
enc oggenc_managed.ogg music44s.wav --managed -b 96 -m 64 -M 128
enc oggenc_silence.ogg silence44s.wav -q 3
long_comment=$(head -c 6000 /dev/zero | tr '\0' 'x')
enc oggenc_longcomment.ogg music44m.wav -q 1 -c "LONG=$long_comment" -c "TITLE=talvo sample"

[ -f ffmpeg_vorbis.ogg ] || ff -i music44s.wav -c:a vorbis -strict -2 ffmpeg_vorbis.ogg
[ -f ffmpeg_libvorbis.ogg ] || ff -i music44s.wav -c:a libvorbis -q:a 4 ffmpeg_libvorbis.ogg
[ -f opus.ogg ] || ff -i music44s.wav -c:a libopus -b:a 64k opus.ogg
[ -f flac.ogg ] || ff -i music44m.wav -c:a flac flac.ogg
[ -f theora_vorbis.ogg ] || ff -f lavfi -i testsrc=size=160x120:rate=10 -i music44s.wav -t 2 \
  -c:v libtheora -q:v 3 -c:a libvorbis -q:a 2 theora_vorbis.ogg
# The same stream three times under three serial numbers (repeat items), and two streams with the same
# header set but different audio (header copies).
for serial in 101 102 103; do enc "same_$serial.ogg" music44m.wav -q 0 -s "$serial"; done
[ -f repeated3.ogg ] || cat same_101.ogg same_102.ogg same_103.ogg > repeated3.ogg
make_wav tone44m 1 44100 1 "aevalsrc=0.4*sin(2*PI*523*t)*exp(-2*t)+0.1*sin(2*PI*1046*t):s=44100"
enc tone_q1.ogg tone44m.wav -q 1 -s 7
enc music_q1.ogg music44m.wav -q 1 -s 8
[ -f same_setup.ogg ] || cat tone_q1.ogg music_q1.ogg > same_setup.ogg
[ -f chained.ogg ] || cat oggenc_q0.ogg oggenc_mono.ogg oggenc_q0.ogg > chained.ogg
rm -f ./*.wav.tmp
ls > MANIFEST.tmp && mv MANIFEST.tmp MANIFEST
