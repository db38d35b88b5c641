#!/usr/bin/env bash
# Measures the parser's demultiplexing rate against FFmpeg's on a 200 MB
# transport stream (bench/parser_read_bench.cpp) with the linux preset.
#
#   scripts/bench.sh [Google Benchmark options...]
#
# VSK_BENCH_MB sets another file size in megabytes. Installs the Debian
# packages it needs when they are missing (the build's and ffmpeg).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

scripts/install-deps.sh ffmpeg libbenchmark-dev

build=${VSK_BENCH_BUILD_DIR:-build/linux}
cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target parser_read_bench -j "$(nproc)"
"$build/bench/parser_read_bench" "$@"
