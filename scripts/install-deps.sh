#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Halvard needs.
# Idempotent: packages already installed are skipped, and the package lists are
# refreshed at most once per run. Must run as root (or through sudo).
set -euo pipefail

packages=(
  # tool chain
  build-essential cmake ninja-build ccache pkg-config git
  # settings store
  libsqlite3-dev sqlite3
  # user interface
  qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth libxtst6
  # media: encoding, decoding, scaling, clients used by the tests
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev ffmpeg
  # text rendering for the time stamp
  libfreetype-dev libfontconfig-dev fonts-liberation
  # sound and capture devices
  libasound2-dev linux-libc-dev
  # internet: directory updates, HTTP clients in tests
  libcurl4-openssl-dev curl
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev python3
  # printed pages: the print tests render their PDF with pdftoppm
  poppler-utils
  # network camera tests: an RTSP server on 127.0.0.1 (GStreamer through Python)
  python3-gi gir1.2-gstreamer-1.0 gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
