#!/usr/bin/env bash
# Runs one fuzz target with libFuzzer (preset linux-fuzz: clang,
# AddressSanitizer, UndefinedBehaviorSanitizer) for a number of seconds.
#
#   scripts/fuzz.sh NAME [SECONDS] [libFuzzer options...]    (default 600 s)
#   scripts/fuzz.sh --list                                   the targets there are
#
# NAME is a target fuzz_NAME of fuzz/CMakeLists.txt: demux (demultiplexing
# and units), probe (the stream probe), seek (the time seek and its two
# readings compared), http (the media server's request rules and SOAP
# bodies). The run starts from the committed corpus
# fuzz/corpus/NAME/, copied into build/linux-fuzz/fuzz/work/NAME/corpus so that
# new inputs stay out of the repository (and are kept there for the next
# run), with the dictionary fuzz/NAME.dict where there is one (a line
# "#include OTHER.dict" in it stands for that file). A crash, leak
# or time-out leaves its input in build/linux-fuzz/fuzz/work/NAME/artifacts/;
# add it to fuzz/corpus/NAME/ under a name of its own (crash-<what>.bin) and
# the replay test (fuzz_NAME_replay_tests) keeps it as a regression case in
# every build. Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

targets() { sed -n 's/^vsk_add_fuzz_target(NAME \([a-z0-9_]*\) .*/\1/p' fuzz/CMakeLists.txt; }
usage() {
  echo "usage: $0 NAME [SECONDS] [libFuzzer options...]; NAME one of: $(targets | tr '\n' ' ')" >&2
  exit 2
}
[ $# -gt 0 ] || usage
if [ "$1" = --list ]; then
  targets
  exit 0
fi
name=$1
shift
targets | grep -qx "$name" || usage
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
cmake --build "$build" --target "fuzz_$name" -j "$(nproc)"

work="$build/fuzz/work/$name"
mkdir -p "$work/corpus" "$work/artifacts"
cp -n "fuzz/corpus/$name"/* "$work/corpus/"
# The dictionary, with the lines "#include OTHER.dict" replaced by that file,
# so the stream tokens are written once for every target that reads streams.
dict=()
if [ -f "fuzz/$name.dict" ]; then
  awk '$1 == "#include" { while ((getline line < ("fuzz/" $2)) > 0) print line; next } { print }' \
    "fuzz/$name.dict" >"$work/dictionary"
  dict=(-dict="$work/dictionary")
fi

echo "=== fuzz_$name for $seconds s; new inputs in $work/corpus, findings in $work/artifacts"
# Inputs up to 16 KiB: enough for the long run checks of detection (from
# 3,840 bytes on) and for many packets in several Feed pieces, small enough
# to keep the rate of executions high.
"$build/fuzz/fuzz_$name" \
  -max_total_time="$seconds" \
  -max_len=16384 \
  -timeout=10 \
  -rss_limit_mb=4096 \
  -print_final_stats=1 \
  "${dict[@]}" \
  -artifact_prefix="$work/artifacts/" \
  "$@" \
  "$work/corpus"
