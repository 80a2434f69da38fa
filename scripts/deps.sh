#!/usr/bin/env bash
# Installs the Debian packages Scoutrix needs to build, test and run, but only
# those that are missing, so a second run costs nothing. "deps.sh fuzz" adds
# clang and its fuzzer runtime, which only the fuzz targets need.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qtbase5-dev qttools5-dev-tools libssl-dev nlohmann-json3-dev
  xvfb xauth x11-apps imagemagick
  fonts-dejavu-core fonts-wqy-microhei
  # logo packages: mksquashfs, mkfs.cramfs (util-linux), mkimage, libzip; unzip checks them in tests
  squashfs-tools util-linux u-boot-tools libzip-dev unzip
  # live stream: the emulator encodes H.264 with libx264 through libavcodec,
  # the SDK's tests decode it with libavcodec
  libavcodec-dev libavutil-dev libswscale-dev libx264-dev
  # ONVIF: the SOAP layer parses and builds its XML with pugixml
  libpugixml-dev
  # RTSP: the emulated cameras serve it with gstreamer's RTSP server (appsrc in
  # plugins-base, the H.264 RTP payloader and rtpbin in plugins-good); the
  # client reads it with libavformat
  libgstrtspserver-1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good libavformat-dev
  # ONVIF over HTTP with cpp-httplib: the SDK's client (SOAP, firmware
  # uploads) and the emulator's ONVIF devices
  libcpp-httplib-dev
  # ONVIF clients nobody here wrote, which the emulated cameras must satisfy:
  # Debian's libonvif (tests/onvif-clients)
  libonvif-dev
)
# ...and npm's onvif package, run by Node: a machine that has node and npm
# from elsewhere keeps them.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
if [ "${1:-}" = fuzz ]; then
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
  else
    SUDO=
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The npm onvif client at the version package-lock.json pins; installed again
# only when the lock file is newer than what npm last installed.
clients=$(cd "$(dirname "$0")/.." && pwd)/tests/onvif-clients
if [ ! -f "$clients/node_modules/.package-lock.json" ] \
  || [ "$clients/package-lock.json" -nt "$clients/node_modules/.package-lock.json" ]; then
  # Without the registry only that one test can fail; the build goes on.
  (cd "$clients" && npm ci --no-audit --no-fund --loglevel=error) \
    || echo "deps.sh: npm ci failed in $clients; tst_onvif_npm will say so" >&2
fi
