#!/usr/bin/env bash
# Makes the real recordings the parser's tests check against ffprobe, and
# ffprobe's list of video packets of each, into OUTDIR:
#
#   scripts/make-recordings.sh OUTDIR
#
#   mpeg2-ac3.ts     MPEG-2 video and AC-3 audio in 188-byte packets
#   h264-ac3.m2ts    H.264 with B-frames and AC-3 audio in 192-byte units with
#                    arrival time stamps
#   mpeg2-ac3.vob    MPEG-2 program stream (2048-byte packs) with AC-3 audio;
#                    its last seconds are nearly still, so several small
#                    pictures share one PES packet
#   mpeg2-hd-ac3.ts  MPEG-2 1920x1080 at 30000/1001, 16:9, at most 18 Mbit/s,
#                    AC-3 448 kbit/s 5.1, 188-byte packets
#   mpeg2-sd-mp2.ts  MPEG-2 720x576 at 25, 4:3, at most 9 Mbit/s, MPEG audio
#                    layer II
#   h264-hd-ac3.m2ts H.264 High 4.0 1920x1080 at 30000/1001 (no HRD in the
#                    VUI) with AC-3, in 192-byte units with arrival time stamps
#   two-programs.ts  two programs: MPEG-2 720x576 without a maximum rate (its
#                    header says bit_rate_value 0x3FFFF) with AC-3, and MPEG-1
#                    352x288 with MPEG audio at 44.1 kHz mono
#
# and from muxers other than ffmpeg's, so the parser is also checked against
# files that no ffmpeg default shaped:
#   gst-h264-1080i-ac3.ts    GStreamer mpegtsmux: H.264 1920x1080 interlaced
#                            (25 frames, top field first) with 5.1 AC-3,
#                            188-byte packets
#   gst-h264-720p50-aac.m2ts GStreamer mpegtsmux m2ts-mode: H.264 1280x720 at
#                            50 with AAC, 192-byte units whose prefixes carry
#                            the muxer's arrival clock
#   gst-mpeg2-576i-mp2.ts    GStreamer mpegtsmux: MPEG-2 720x576 interlaced
#                            with MPEG audio layer II (both encoded by ffmpeg)
#   mjpeg-dvd.vob            mjpegtools: mpeg2enc -f 8 and mp2enc, mplex -f 8:
#                            a DVD program stream with navigation packs
#   NAME.packets     per recording: "pts pos size crc32" of each video packet
#                    ffprobe reads, in its order, "N/A" where it has no value
#   NAME.streams     per recording: ffprobe's programs, streams and format in
#                    its "flat" form (key=value lines), dispositions and tags
#                    left out
#   status.txt       written last: "ok NAME" for each recording made,
#                    "missing NAME: why" for each that could not be made
#
# The first three are a little over 5 MiB each, so a time seek's start offset
# is past the start of the file for late requests; the others, for the stream
# probe and the damaged copies, are a few seconds long and a few MB. Sources
# are synthetic test pictures and tones and every encoder runs with one
# thread, so the files are the same on every run with the same tools. The
# CTest fixture runs this for every test run; when the recordings of this
# script and these tools are already there it does nothing.
# Without ffmpeg it writes only status.txt and exits 0: the tests that need a
# recording skip with the reason it gives; without GStreamer or mjpegtools
# their recordings are "missing" the same way. A failing run of any of the
# tools fails the script.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$1
mkdir -p "$out"
status="$out/status.txt"

if ! command -v ffmpeg >/dev/null 2>&1 || ! command -v ffprobe >/dev/null 2>&1; then
  rm -f "$status"
  for name in mpeg2-ac3.ts h264-ac3.m2ts mpeg2-ac3.vob mpeg2-hd-ac3.ts mpeg2-sd-mp2.ts h264-hd-ac3.m2ts \
              two-programs.ts gst-h264-1080i-ac3.ts gst-h264-720p50-aac.m2ts gst-mpeg2-576i-mp2.ts mjpeg-dvd.vob; do
    rm -f "$out/$name" "$out/$name.packets" "$out/$name.streams"
    echo "missing $name: ffmpeg and ffprobe are not installed (scripts/install-deps.sh installs them)" >>"$status"
  done
  echo "make-recordings: ffmpeg or ffprobe not found; no recordings made"
  exit 0
fi

key=$({ cat "$0"; ffmpeg -hide_banner -version | head -n 1
        gst-launch-1.0 --version 2>/dev/null | head -n 2; mplex --help 2>&1 | head -n 1; true; } | sha256sum | cut -c1-16)
if [ -f "$status" ] && grep -qx "key $key" "$status"; then
  echo "make-recordings: up to date in $out"
  exit 0
fi
rm -f "$status"

work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

ffm=(ffmpeg -hide_banner -nostdin -loglevel error -y)
# 48 kHz stereo tone; the pitch tells the recordings apart by ear.
tone() { echo "sine=frequency=$1:sample_rate=48000:duration=$2,aformat=channel_layouts=stereo"; }
# Output options of every recording: one encoder thread and no version
# strings, so the bytes do not depend on the machine or the run.
exact=(-threads 1 -flags +bitexact -fflags +bitexact)

# ffprobe's video packets, one "pts pos size crc32" line each in the order it
# reads them: PTS and position as ffprobe gives them, and the length and
# CRC-32 (the zlib one) of the packet's data.
probe() {
  {
    echo "# ffprobe -fflags nofillin -select_streams v -show_entries packet=pts,pos,size,data_hash" \
         "-show_data_hash CRC32 $(basename "$1")"
    ffprobe -v error -fflags nofillin -select_streams v -show_data_hash CRC32 \
            -show_entries packet=pts,pos,size,data_hash -of default "$1" |
      awk -F= '/^\[PACKET\]/ { pts = pos = size = crc = "N/A"; side = 0; next }
               /^\[SIDE_DATA\]/ { side = 1; next }
               /^\[\/SIDE_DATA\]/ { side = 0; next }
               /^\[\/PACKET\]/ { print pts, pos, size, crc; next }
               side { next }
               $1 == "pts" { pts = $2 }
               $1 == "pos" { pos = $2 }
               $1 == "size" { size = $2 }
               $1 == "data_hash" { crc = substr($2, index($2, ":") + 1) }'
  } >"$2"
}

# ffprobe's facts of the programs, streams and format, one key=value line
# each ("flat" form), without the dispositions and tags.
facts() {
  {
    echo "# ffprobe -show_programs -show_streams -show_format -of flat $(basename "$1")"
    ffprobe -v error -show_programs -show_streams -show_format -of flat "$1" |
      grep -v -e '\.disposition\.' -e '\.tags\.'
  } >"$2"
}

lines=()
made() {
  probe "$work/$1" "$work/${1%.*}.packets"
  facts "$work/$1" "$work/${1%.*}.streams"
  mv -f "$work/${1%.*}.packets" "$out/$1.packets"
  mv -f "$work/${1%.*}.streams" "$out/$1.streams"
  mv -f "$work/$1" "$out/$1"
  lines+=("ok $1")
}
missing() {
  rm -f "$out/$1" "$out/$1.packets" "$out/$1.streams"
  lines+=("missing $1: $2")
}

start=$(date +%s%N)

# MPEG-2 video (GOP of 12, two B pictures) and AC-3 in 188-byte packets.
"${ffm[@]}" -f lavfi -i testsrc2=size=720x576:rate=25:duration=8 -f lavfi -i "$(tone 440 8)" \
  -map 0:v -map 1:a -c:v mpeg2video -b:v 7M -maxrate 7M -bufsize 1835k -g 12 -bf 2 \
  -c:a ac3 -b:a 192k "${exact[@]}" -f mpegts "$work/mpeg2-ac3.ts"
made mpeg2-ac3.ts

# H.264 with three B-frames (pyramid), so presentation order differs from
# decode order, and AC-3, in 192-byte units. The arrival time stamps of the
# prefixes follow the byte position at the constant mux rate (null packets
# fill it up); without a mux rate ffmpeg writes no usable clock there.
encoders=$(ffmpeg -hide_banner -encoders 2>/dev/null)
if grep -q ' libx264 ' <<<"$encoders"; then
  "${ffm[@]}" -f lavfi -i testsrc2=size=640x360:rate=25:duration=6 -f lavfi -i "$(tone 660 6)" \
    -map 0:v -map 1:a -c:v libx264 -preset veryfast -g 25 -bf 3 \
    -b:v 6M -maxrate 6M -bufsize 2M -x264-params nal-hrd=cbr \
    -c:a ac3 -b:a 192k "${exact[@]}" -f mpegts -muxrate 7500k -mpegts_m2ts_mode 1 "$work/h264-ac3.m2ts"
  made h264-ac3.m2ts
else
  missing h264-ac3.m2ts "this ffmpeg has no libx264 encoder"
fi

# MPEG-2 program stream: 8 s of moving pictures, then 2 s of a nearly still
# one whose small P and B pictures often start two to a PES packet.
"${ffm[@]}" -filter_complex \
  "testsrc2=size=720x576:rate=25:duration=8[a];testsrc=size=720x576:rate=25:duration=2[b];[a][b]concat=n=2:v=1:a=0[v]" \
  -f lavfi -i "$(tone 550 10)" -map '[v]' -map 0:a -c:v mpeg2video -q:v 3 -g 12 -bf 2 \
  -c:a ac3 -b:a 192k "${exact[@]}" -f vob "$work/mpeg2-ac3.vob"
made mpeg2-ac3.vob

# Recordings of the families a media server classifies, for the stream probe.
# Three seconds of 1920x1080 MPEG-2 at up to 18 Mbit/s (a VBV buffer of 9 MB,
# within High Level's), 5.1 AC-3 at 448 kbit/s.
"${ffm[@]}" -f lavfi -i testsrc2=size=1920x1080:rate=30000/1001:duration=3 \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3,aformat=channel_layouts=5.1" \
  -map 0:v -map 1:a -c:v mpeg2video -b:v 15M -maxrate 18M -bufsize 9M -g 15 -bf 2 -aspect 16:9 \
  -c:a ac3 -b:a 448k "${exact[@]}" -f mpegts "$work/mpeg2-hd-ac3.ts"
made mpeg2-hd-ac3.ts

# Four seconds of PAL-sized MPEG-2 shown at 4:3, MPEG audio layer II.
"${ffm[@]}" -f lavfi -i testsrc2=size=720x576:rate=25:duration=4 -f lavfi -i "$(tone 330 4)" \
  -map 0:v -map 1:a -c:v mpeg2video -b:v 6M -maxrate 9M -bufsize 1835k -g 12 -bf 2 -aspect 4:3 \
  -c:a mp2 -b:a 256k "${exact[@]}" -f mpegts "$work/mpeg2-sd-mp2.ts"
made mpeg2-sd-mp2.ts

# Three seconds of 1080-line H.264 High at level 4.0 (coded as 1088 lines and
# cropped), square samples stated for 16:9, with real arrival time stamps.
if grep -q ' libx264 ' <<<"$encoders"; then
  "${ffm[@]}" -f lavfi -i testsrc2=size=1920x1080:rate=30000/1001:duration=3 -f lavfi -i "$(tone 770 3)" \
    -map 0:v -map 1:a -c:v libx264 -preset veryfast -profile:v high -level:v 4.0 -g 30 -bf 3 \
    -b:v 8M -maxrate 10M -bufsize 10M -aspect 16:9 \
    -c:a ac3 -b:a 384k "${exact[@]}" -f mpegts -muxrate 12M -mpegts_m2ts_mode 1 "$work/h264-hd-ac3.m2ts"
  made h264-hd-ac3.m2ts
else
  missing h264-hd-ac3.m2ts "this ffmpeg has no libx264 encoder"
fi

# Two programs of three seconds each: MPEG-2 at a constant quantiser (no
# maximum rate) with AC-3, and MPEG-1 video with mono MPEG audio at 44.1 kHz.
"${ffm[@]}" -f lavfi -i testsrc2=size=720x576:rate=25:duration=3 -f lavfi -i "$(tone 220 3)" \
  -f lavfi -i testsrc=size=352x288:rate=25:duration=3 \
  -f lavfi -i "sine=frequency=880:sample_rate=44100:duration=3,aformat=channel_layouts=mono" \
  -map 0:v -map 1:a -map 2:v -map 3:a \
  -c:v:0 mpeg2video -q:v:0 4 -g:v:0 12 -bf:v:0 2 -c:a:0 ac3 -b:a:0 192k \
  -c:v:1 mpeg1video -b:v:1 1M -g:v:1 12 -c:a:1 mp2 -b:a:1 96k \
  -program program_num=1:title=one:st=0:st=1 -program program_num=2:title=two:st=2:st=3 \
  "${exact[@]}" -f mpegts "$work/two-programs.ts"
made two-programs.ts

# GStreamer's muxer. x264enc and the audio encoders run with one thread;
# the pictures are videotestsrc's snow, which the encoders cannot shrink, so a
# few seconds fill a few MB at the rate asked for.
gst=(gst-launch-1.0 -q -e)
x264=(x264enc threads=1 sliced-threads=false speed-preset=ultrafast pass=cbr vbv-buf-capacity=1000 bframes=2)
gst_missing=""
if ! command -v gst-launch-1.0 >/dev/null 2>&1; then
  gst_missing="GStreamer is not installed (scripts/install-deps.sh installs it)"
else
  for element in mpegtsmux x264enc h264parse avenc_ac3 avenc_aac aacparse ac3parse matroskademux mpegvideoparse \
                 mpegaudioparse; do
    if ! gst-inspect-1.0 "$element" >/dev/null 2>&1; then
      gst_missing="this GStreamer has no element $element (scripts/install-deps.sh installs the plugins)"
      break
    fi
  done
fi

# Four seconds of 1080-line H.264 coded as interlaced fields, top field
# first, with 5.1 AC-3 at 448 kbit/s, in 188-byte packets.
if [ -z "$gst_missing" ]; then
  "${gst[@]}" videotestsrc num-buffers=100 pattern=snow \
    ! video/x-raw,format=I420,width=1920,height=1080,framerate=25/1,interlace-mode=interleaved,field-order=top-field-first \
    ! "${x264[@]}" interlaced=true bitrate=12000 key-int-max=25 ! h264parse ! mpegtsmux name=mux \
    ! filesink location="$work/gst-h264-1080i-ac3.ts" \
    audiotestsrc num-buffers=125 samplesperbuffer=1536 freq=440 ! audio/x-raw,rate=48000,channels=6 \
    ! avenc_ac3 bitrate=448000 ! ac3parse ! mux.
  made gst-h264-1080i-ac3.ts
else
  missing gst-h264-1080i-ac3.ts "$gst_missing"
fi

# Four seconds of 720-line H.264 at 50 frames with AAC, in 192-byte units
# whose prefixes the muxer stamps from its own clock.
if [ -z "$gst_missing" ]; then
  "${gst[@]}" videotestsrc num-buffers=200 pattern=snow ! video/x-raw,format=I420,width=1280,height=720,framerate=50/1 \
    ! "${x264[@]}" bitrate=8000 key-int-max=50 ! h264parse ! mpegtsmux name=mux m2ts-mode=true \
    ! filesink location="$work/gst-h264-720p50-aac.m2ts" \
    audiotestsrc num-buffers=188 samplesperbuffer=1024 freq=660 ! audio/x-raw,rate=48000,channels=2 \
    ! avenc_aac bitrate=128000 ! aacparse ! mux.
  made gst-h264-720p50-aac.m2ts
else
  missing gst-h264-720p50-aac.m2ts "$gst_missing"
fi

# Five seconds of PAL MPEG-2 with interlaced fields, top field first, 16:9,
# and MPEG audio layer II: GStreamer's MPEG-2 encoder refuses its caps, so
# ffmpeg encodes both into Matroska (which keeps the presentation times of
# the B pictures; an elementary stream would leave GStreamer to stamp them
# in decoding order) and GStreamer demultiplexes, parses and muxes them.
if [ -z "$gst_missing" ]; then
  "${ffm[@]}" -f lavfi -i testsrc2=size=720x576:rate=25:duration=5 -f lavfi -i "$(tone 330 5)" \
    -vf setfield=tff -c:v mpeg2video -b:v 8M -maxrate 9M -bufsize 1835k -g 12 -bf 2 -flags +ilme+ildct -top 1 \
    -aspect 16:9 -c:a mp2 -b:a 256k "${exact[@]}" -f matroska "$work/576i.mkv"
  "${gst[@]}" filesrc location="$work/576i.mkv" ! matroskademux name=demux \
    demux.video_0 ! mpegvideoparse ! queue ! mpegtsmux name=mux ! filesink location="$work/gst-mpeg2-576i-mp2.ts" \
    demux.audio_0 ! mpegaudioparse ! queue ! mux.
  rm -f "$work/576i.mkv"
  made gst-mpeg2-576i-mp2.ts
else
  missing gst-mpeg2-576i-mp2.ts "$gst_missing"
fi

# A DVD program stream as mjpegtools write one: three seconds of PAL MPEG-2
# from mpeg2enc's DVD profile (fastest motion search, one thread), MPEG
# audio from mp2enc, multiplexed by mplex in DVD form (2048-byte packs,
# navigation packs). mplex stamps few pictures with a time (with mpeg2enc's
# own GOPs, one in fifteen), so GOPs of six give the search some two dozen
# times to find in three seconds.
if command -v mpeg2enc >/dev/null 2>&1 && command -v mp2enc >/dev/null 2>&1 && command -v mplex >/dev/null 2>&1; then
  "${ffm[@]}" -f lavfi -i testsrc2=size=720x576:rate=25:duration=3 -pix_fmt yuv420p -f yuv4mpegpipe - |
    mpeg2enc -f 8 -v 0 -M 0 -4 4 -2 4 -g 6 -G 6 -o "$work/dvd.m2v"
  "${ffm[@]}" -f lavfi -i "$(tone 550 3)" -c:a pcm_s16le "$work/dvd.wav"
  mp2enc -v 0 -r 48000 -o "$work/dvd.mp2" <"$work/dvd.wav"
  mplex -v 0 -f 8 -o "$work/mjpeg-dvd.vob" "$work/dvd.m2v" "$work/dvd.mp2"
  rm -f "$work/dvd.m2v" "$work/dvd.wav" "$work/dvd.mp2"
  made mjpeg-dvd.vob
else
  missing mjpeg-dvd.vob "mjpegtools are not installed (scripts/install-deps.sh installs them)"
fi

printf '%s\n' "key $key" "${lines[@]}" >"$work/status.txt"
mv -f "$work/status.txt" "$status"
elapsed=$((($(date +%s%N) - start) / 1000000))
echo "make-recordings: made in $elapsed ms in $out"
ls -l "$out" | grep -v '^total'
