#!/usr/bin/env bash
# Runs the benchmarks and prints their tables:
#   parser             the parser's demultiplexing rate beside FFmpeg's, and
#                      seeks by time beside plain reads of the same bytes and
#                      beside ffprobe, on a 1 GB stream
#                      (bench/parser_read_bench.cpp)
#   converter          the converter's read path beside a plain read loop, for
#                      188-byte and time-stamped AVC sources at 64 KiB and
#                      1 MiB requests, Linux build (bench/transcoder_read_bench.cpp)
#   converter-windows  the same in the Windows build under Wine, beside
#                      SafeArrayCreateVector + ReadFile
#                      (bench/transcoder_com_read_bench.cpp)
#   dlna               the media server beside MiniDLNA: profiles and time
#                      seek per recording, first scan and restart of 200
#                      recordings, serving throughput (scripts/bench-dlna.sh)
#
#   scripts/bench.sh [TARGET...]     (no target: all four)
#
# VSK_BENCH_MB sets the parser's file size in megabytes, VSK_BENCH_MIB the
# converter's in MiB (256). Installs the Debian packages it needs when they are
# missing (the build's and ffmpeg).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/install-deps.sh ffmpeg libbenchmark-dev

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(parser converter converter-windows dlna)

linux=${VSK_BENCH_BUILD_DIR:-build/linux}
configured_linux=false
linux_build() {
  if ! $configured_linux; then
    cmake --preset linux -B "$linux" >/dev/null
    configured_linux=true
  fi
  cmake --build "$linux" --target "$1" -j "$(nproc)"
}

for target in "${targets[@]}"; do
  case "$target" in
    parser)
      linux_build parser_read_bench
      "$linux/bench/parser_read_bench"
      ;;
    converter)
      linux_build transcoder_read_bench
      "$linux/bench/transcoder_read_bench" --benchmark_repetitions=3 \
        --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
      ;;
    converter-windows)
      cmake --preset windows >/dev/null
      cmake --build --preset windows --target transcoder_com_read_bench -j "$(nproc)"
      . scripts/wine-session.sh
      wine_session_start
      status=0
      cmake/wine-run.sh build/windows/bench/transcoder_com_read_bench.exe || status=$?
      wine_session_end
      [ $status -eq 0 ] || exit $status
      ;;
    dlna)
      scripts/bench-dlna.sh
      ;;
    *)
      echo "unknown target: $target (parser, converter, converter-windows, dlna)" >&2
      exit 2
      ;;
  esac
done
