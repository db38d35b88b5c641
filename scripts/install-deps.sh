#!/usr/bin/env bash
# Installs Debian packages when they are missing: the ones named on the
# command line, or else those the build and the tests need.
#
#   scripts/install-deps.sh [PACKAGE...]
set -euo pipefail
packages=("$@")
if [ ${#packages[@]} -eq 0 ]; then
  packages=(g++ cmake ninja-build googletest libbenchmark-dev libpugixml-dev
            g++-mingw-w64-x86-64 wine wine64 procps ffmpeg
            gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
            gstreamer1.0-plugins-ugly gstreamer1.0-libav mjpegtools
            libcli11-dev libboost-dev curl python3 python3-pefile
            python3-gi gir1.2-gupnp-1.6 gir1.2-gupnp-av-1.0 iproute2)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
