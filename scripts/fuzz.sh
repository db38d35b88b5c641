#!/usr/bin/env bash
# Fuzzes the parser's front object with libFuzzer (preset linux-fuzz: clang,
# AddressSanitizer, UndefinedBehaviorSanitizer) for a number of seconds.
#
#   scripts/fuzz.sh [SECONDS] [libFuzzer options...]      (default 600 s)
#
# The run starts from the committed corpus fuzz/corpus/, copied into
# build/linux-fuzz/fuzz/work/corpus so that new inputs stay out of the
# repository (and are kept there for the next run). A crash, leak or time-out
# leaves its input in build/linux-fuzz/fuzz/work/artifacts/; add it to
# fuzz/corpus/ under a name of its own (crash-<what>.bin) and the replay test
# (parser_fuzz_replay_tests) keeps it as a regression case in every build.
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

# scripts/fuzz.sh http [SECONDS] [options...]: the HTTP request rules
# (fuzz_http) from fuzz/corpus/http/ instead.
target=parser_stream_fuzz corpus=fuzz/corpus dict=fuzz/parser_stream.dict work_name=work max_len=16384
if [ "${1:-}" = http ]; then
  shift; target=fuzz_http corpus=fuzz/corpus/http dict=fuzz/http.dict work_name=work-http max_len=4096
fi
seconds=600
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi

# clang with libFuzzer and the sanitizer runtimes (libclang-rt-dev), and what
# the preset and its tests need to configure.
scripts/install-deps.sh clang libclang-rt-dev cmake ninja-build googletest libpugixml-dev

build=${VSK_FUZZ_BUILD_DIR:-build/linux-fuzz}
cmake --preset linux-fuzz -B "$build" >/dev/null
cmake --build "$build" --target "$target" -j "$(nproc)"

work="$build/fuzz/$work_name"
mkdir -p "$work/corpus" "$work/artifacts"
find "$corpus" -maxdepth 1 -type f -exec cp -n {} "$work/corpus/" \;

echo "=== fuzzing for $seconds s; new inputs in $work/corpus, findings in $work/artifacts"
# Inputs up to 16 KiB: enough for the long run checks of detection (from
# 3,840 bytes on) and for many packets in several Feed pieces, small enough
# to keep the rate of executions high.
"$build/fuzz/$target" \
  -max_total_time="$seconds" \
  -max_len="$max_len" \
  -timeout=10 \
  -rss_limit_mb=4096 \
  -print_final_stats=1 \
  -dict="$dict" \
  -artifact_prefix="$work/artifacts/" \
  "$@" \
  "$work/corpus"
