#!/bin/sh
# Runs one Windows test program under Wine with the build folder's own prefix.
# The build folder is the nearest parent of the program that holds CMakeCache.txt.
dir=$(cd "$(dirname "$1")" && pwd)
while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
export WINEPREFIX="${WINEPREFIX:-$dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
