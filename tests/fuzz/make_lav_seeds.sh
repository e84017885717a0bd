#!/usr/bin/env bash
# Small seed files for the libavformat source's fuzz target: each container
# it reads, with B-frames, variable timing, rotation, edit lists and audio.
set -euo pipefail
out=${1:?usage: make_lav_seeds.sh DIR}
mkdir -p "$out"
src=(-f lavfi -i testsrc2=size=16x8:rate=10)
snd=(-f lavfi -i sine=sample_rate=8000:duration=0.4)
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
h264=(-c:v libx264 -preset ultrafast -bf 2 -g 4 -pix_fmt yuv420p)
ff "${src[@]}" "${snd[@]}" -frames:v 4 "${h264[@]}" -c:a aac -b:a 16k "$out/h264-aac.mp4"
ff "${src[@]}" -frames:v 6 -vf "setpts='N*0.1/TB+if(eq(mod(N,3),1),0.04/TB,0)'" -fps_mode passthrough \
  "${h264[@]}" "$out/vfr.mp4"
ff -i "$out/h264-aac.mp4" -c copy -metadata:s:v:0 rotate=90 "$out/rotated.mp4"
ff -ss 0.15 -i "$out/h264-aac.mp4" -c copy "$out/edit-list.mp4"
ff -itsoffset 0.2 -i "$out/h264-aac.mp4" -c copy "$out/offset.mp4"
ff "${src[@]}" "${snd[@]}" -frames:v 4 "${h264[@]}" -c:a libopus -b:a 8k "$out/h264-opus.mkv"
ff "${src[@]}" "${snd[@]}" -frames:v 3 -c:v mpeg4 -bf 1 -g 3 -c:a pcm_s16le "$out/mpeg4-pcm.mov"
ff "${src[@]}" "${snd[@]}" -frames:v 3 -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -c:a libopus -b:a 8k \
  "$out/vp9-opus.webm"
ff "${src[@]}" "${snd[@]}" -frames:v 4 -c:v mpeg2video -bf 1 -g 3 -flags +ilme+ildct -c:a mp2 -b:a 32k \
  "$out/mpeg2-mp2.ts"
ff "${src[@]}" "${snd[@]}" -frames:v 3 -c:v mjpeg -c:a pcm_u8 "$out/mjpeg.mkv"
