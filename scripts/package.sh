#!/usr/bin/env bash
# Builds the Windows archive a person unzips and runs:
#
#   scripts/package.sh            -> build/windows/package/VskMediaHost-VERSION-win64.zip
#
# It holds VskMediaHost.exe, VskMpeg2TsTranscoder.dll, VskMpegParser.dll
# (stripped, with their version resources), the interface header
# VskMpeg2TsTranscoder.h and README.txt. VERSION is the CMake project's.
# Only what ships is built (no tests). Installs the Debian packages it needs
# when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target VskMediaHost VskMpeg2TsTranscoder VskMpegParser vsk_package_files
(cd build/windows && cpack)
ls -l build/windows/package/VskMediaHost-*-win64.zip
