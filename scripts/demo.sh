#!/usr/bin/env bash
# The media host at work on a short sample recording:
#   1. makes the sample (ffmpeg when present: 8 s of MPEG-2 1920x1080 16:9
#      at 29.97 fps with 5.1 AC-3 in 188-byte packets; else the project's
#      stream builder writes one with the same headers),
#   2. probe: what the parser library reads in it,
#   3. classify: the DLNA profiles the component offers for it,
#   4. stream --seek-time: the programme from 4 s on, into a file,
#   5. serve: starts the HTTP server on a free loopback port, asks it once
#      for a time seek (as a TV would), shows the answer, and stops it.
#
#   scripts/demo.sh [--linux]
#
# By default it builds and runs the Windows build under Wine (the product: the
# host creates the component by class id through its manifest, with the DLL
# beside it and nothing registered);
# --linux runs the native build. Installs the Debian packages it needs when
# they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=windows
[ "${1:-}" = --linux ] && preset=linux
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target VskMediaHost VskSampleMaker >/dev/null
build="$PWD/build/$preset"
work="$build/demo"
rm -rf "$work"
mkdir -p "$work/library"
sample="$work/library/sample.ts"

run=()
suffix=""
path() { echo "$1"; }
if [ "$preset" = windows ]; then
  # One Wine server for the whole demo.
  . scripts/wine-session.sh
  wine_session_start
  trap wine_session_end EXIT
  run=(cmake/wine-run.sh)
  suffix=.exe
  path() { echo "Z:$1"; }
fi
exe="$build/tools/VskMediaHost$suffix"
host() { "${run[@]}" "$exe" "$@"; }
step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "1. a sample recording"
if command -v ffmpeg >/dev/null 2>&1; then
  ffmpeg -hide_banner -nostdin -loglevel error -y \
    -f lavfi -i testsrc2=size=1920x1080:rate=30000/1001:duration=8 \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=8" \
    -map 0:v -map 1:a -c:v mpeg2video -b:v 12M -maxrate 18M -bufsize 1835k -aspect 16:9 -g 15 \
    -c:a ac3 -b:a 448k -ac 6 -f mpegts "$sample"
  echo "made with ffmpeg: $(stat -c %s "$sample") bytes"
else
  "${run[@]}" "$build/tools/VskSampleMaker$suffix" "$(path "$sample")" 8
fi

step "2. probe: the stream facts"
host probe "$(path "$sample")" || true

step "3. classify: what the component offers"
host classify "$(path "$sample")" || true

step "4. stream from 4 s on"
profile=$(host classify --json "$(path "$sample")" | sed -n 's/.*"profiles": \[{"profileName": "\([^"]*\)".*/\1/p' | head -n 1)
host stream "$(path "$sample")" --profile "$profile" --seek-time 4 -o "$(path "$work/from-4s.ts")" || true
if [ -s "$work/from-4s.ts" ] && command -v ffprobe >/dev/null 2>&1; then
  first_pts() {
    ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of default=nw=1:nk=1 \
      -read_intervals %+#1 "$1" 2>/dev/null | awk 'NF && !n++'
  }
  video=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height \
    -of csv=p=0 "$work/from-4s.ts" 2>/dev/null | awk -F, 'NF > 2 && !n++ { print $1, $2 "x" $3 }')
  echo "ffprobe reads the clip ($video): its first picture is shown at $(first_pts "$work/from-4s.ts") s" \
    "of the recording's clock, whose first is at $(first_pts "$sample") s"
fi

step "5. serve: one request as a TV makes it"
# A session of its own, so Ctrl-C (SIGINT) reaches the server, Wine's
# process included, and nothing else.
setsid "${run[@]}" "$exe" serve "$(path "$work/library")" --port 0 >"$work/serve.out" 2>"$work/serve.log" &
server=$!
for _ in $(seq 300); do grep -q "listening on" "$work/serve.out" 2>/dev/null && break; sleep 0.1; done
url=$(grep -o 'http://[0-9.]*:[0-9]*/' "$work/serve.out")
echo "server: $url"
echo "request: GET /media/sample.ts?profile=$profile with TimeSeekRange.dlna.org: npt=4-"
curl -s -D - -o "$work/served.ts" -H "TimeSeekRange.dlna.org: npt=4-" -H "getcontentFeatures.dlna.org: 1" \
  "${url}media/sample.ts?profile=$profile" | tr -d '\r'
echo "body: $(stat -c %s "$work/served.ts") bytes$([ -s "$work/from-4s.ts" ] && { cmp -s "$work/served.ts" "$work/from-4s.ts" && echo ", the same bytes as step 4" || echo ", not the bytes of step 4"; })"
kill -INT -- -"$server"
wait "$server" || true
echo "server log:"
sed 's/^/  /' "$work/serve.log"
echo
echo "Serve your own folder: $exe serve DIR --bind 0.0.0.0 (see README)."
