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
    # One Wine server for the whole run (CTest would otherwise wait for the
    # services the first test starts until the time-out).
    . scripts/wine-session.sh
    wine_session_start
    if ! ctest --preset "$preset" -j "$jobs" --output-on-failure; then
      # Wine now and then fails to start a program at all (no output, at
      # once). Such a test gets one more run; a test that fails again fails
      # the run. Each rerun is printed, so a pattern would show.
      echo "=== $preset: running the failed tests once more"
      ctest --preset "$preset" --rerun-failed --output-on-failure || status=1
    fi
    wine_session_end
    unset WINEPREFIX
  else
    ctest --preset "$preset" -j "$jobs" --output-on-failure || status=1
  fi
done
exit $status
