#!/usr/bin/env bash
# Builds the three configurations (linux, linux-asan, windows) and runs every
# test in each. Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
status=0
for preset in linux linux-asan windows; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

for preset in linux linux-asan windows; do
  echo "=== $preset: test"
  if [ "$preset" = windows ]; then
    # One Wine server for the whole run: each program then starts in a fraction
    # of a second instead of bringing its own server up and down.
    export WINEPREFIX="$PWD/build/windows/wineprefix"
    export WINEDEBUG=-all
    if [ ! -d "$WINEPREFIX" ]; then
      wineboot -i >/dev/null 2>&1 || true
      # Let the server that set the prefix up go before a persistent one starts.
      wineserver -w >/dev/null 2>&1 || true
    fi
    wineserver -p >/dev/null 2>&1 || true
    # Start Wine's own services now, detached from any test: the first
    # program of a server starts them, and they would keep that program's
    # output pipe open (CTest would wait for it until the time-out).
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
    ctest --preset "$preset" -j "$jobs" --output-on-failure || status=1
    wineserver -k >/dev/null 2>&1 || true
    unset WINEPREFIX
  else
    ctest --preset "$preset" -j "$jobs" --output-on-failure || status=1
  fi
done
exit $status
