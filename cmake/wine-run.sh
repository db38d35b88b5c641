#!/bin/sh
# Runs one Windows test program under Wine with the build folder's own prefix.
# The build folder is the nearest parent of the program that holds CMakeCache.txt.
dir=$(cd "$(dirname "$1")" && pwd)
while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
export WINEPREFIX="${WINEPREFIX:-$dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine "$@"
rc=$?
# With WINEDEBUG=-all a program that Wine could not start says nothing; the
# exit code at least tells a failed start from a failed test.
[ $rc -eq 0 ] || echo "wine-run: $(basename "$1") ended with exit code $rc" >&2
exit $rc
