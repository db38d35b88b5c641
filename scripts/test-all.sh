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
    if ! ctest --preset "$preset" -j "$jobs" --output-on-failure; then
      # Wine now and then fails to start a program at all (no output, at
      # once). Such a test gets one more run; a test that fails again fails
      # the run. Each rerun is printed, so a pattern would show.
      echo "=== $preset: running the failed tests once more"
      ctest --preset "$preset" --rerun-failed --output-on-failure || status=1
    fi
    wineserver -k >/dev/null 2>&1 || true
    unset WINEPREFIX
  else
    ctest --preset "$preset" -j "$jobs" --output-on-failure || status=1
  fi
done
exit $status
