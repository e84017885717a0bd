#!/usr/bin/env bash
# Small seed files for the fuzz target, one per kind of stream the reader meets.
set -euo pipefail
out=${1:?usage: make_seeds.sh DIR}
mkdir -p "$out"
src=(-f lavfi -i testsrc2=size=16x8:rate=10)
snd=(-f lavfi -i sine=sample_rate=8000:duration=0.3)
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
ff "${src[@]}" "${snd[@]}" -frames:v 3 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$out/raw.avi"
ff "${src[@]}" -frames:v 3 -c:v rawvideo -pix_fmt pal8 "$out/pal8.avi"
ff "${src[@]}" "${snd[@]}" -frames:v 3 -c:v mjpeg -c:a pcm_u8 "$out/mjpeg.avi"
ff "${src[@]}" -frames:v 4 -c:v libx264 -bf 0 -g 2 "$out/h264.avi"
ff "${src[@]}" -frames:v 4 -c:v mpeg4 -bf 0 -g 2 "$out/mpeg4.avi"
ff "${src[@]}" -frames:v 8 -c:v libx264 -bf 3 -b-pyramid normal -g 4 "$out/h264-bframes.avi"
ff "${src[@]}" -frames:v 8 -c:v mpeg4 -bf 2 -g 4 "$out/mpeg4-bframes.avi"
ff "${src[@]}" -frames:v 3 -c:v huffyuv "$out/huffyuv.avi"
ff "${src[@]}" -frames:v 3 -c:v ffv1 "$out/ffv1.avi"
ff "${src[@]}" "${snd[@]}" -frames:v 3 -c:v mjpeg -c:a libmp3lame "$out/mp3.avi"
