#!/usr/bin/env bash
# Builds the Windows DLLs and the demo host, and runs the demo under Wine:
# the host registers the component with regsvr32, creates its objects by
# class id, lists profiles, asks for a recording's profiles and properties,
# and streams it through a converter. Pass --avc for a time-stamped AVC
# recording, --vendor for the vendor profile names. Installs the Debian
# packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target VskDemoHost VskMpeg2TsTranscoder
. scripts/wine-session.sh
wine_session_start
status=0
cmake/wine-run.sh build/windows/tools/VskDemoHost.exe "$@" || status=$?
wine_session_end
exit $status
