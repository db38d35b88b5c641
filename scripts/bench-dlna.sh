#!/usr/bin/env bash
# The media server side by side with MiniDLNA (Debian minidlna), both serving
# one folder inside a network namespace this script makes, so neither
# server's SSDP or HTTP leaves it. It prints:
#   - per test recording: the DLNA.ORG_PN values each server offers for it,
#     and whether each answers a time seek (TimeSeekRange.dlna.org);
#   - for a folder of VSK_BENCH_RECORDINGS (200) recordings, hard links to the
#     test recordings: the time of a first scan (empty cache or database) and
#     of a restart, until a browse of the folder answers every recording;
#   - serving throughput with 1 and 8 clients, each fetching the same
#     recording whole, VSK_BENCH_ROUNDS (10) times.
# The goals: a first scan no slower than MiniDLNA's, a restart under 1 s.
#
#   scripts/bench-dlna.sh          (scripts/bench.sh dlna runs it)
#
# Installs what it needs when it is missing (the build's packages, ffmpeg for
# the recordings, minidlna). Needs root for the namespace.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${VSK_BENCH_IN_NAMESPACE:-}" != 1 ]; then
  scripts/install-deps.sh
  scripts/install-deps.sh ffmpeg minidlna
  build=${VSK_BENCH_BUILD_DIR:-build/linux}
  cmake --preset linux -B "$build" >/dev/null
  cmake --build "$build" --target VskMediaHost -j "$(nproc)"
  work=$(mktemp -d /tmp/vsk-bench-dlna.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  scripts/make-recordings.sh "$work/recordings" >/dev/null
  if ! unshare -n true 2>/dev/null; then
    echo "bench-dlna: cannot make a network namespace (unshare -n needs root): not run" >&2
    exit 0
  fi
  VSK_BENCH_IN_NAMESPACE=1 unshare -n "$0" "$build" "$work"
  exit $?
fi

build=$1
work=$2
ip link set lo up
ip link set lo multicast on
ip route add 239.0.0.0/8 dev lo
exec /usr/bin/python3 scripts/bench_dlna.py --host "$build/tools/VskMediaHost" --work "$work" \
  --recordings "$work/recordings" --count "${VSK_BENCH_RECORDINGS:-200}" --rounds "${VSK_BENCH_ROUNDS:-10}"
