#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need (only those missing),
# and those named as arguments (as scripts/fuzz.sh does).
set -euo pipefail
packages=(
  "$@"
  build-essential cmake pkg-config
  qtbase5-dev libqt5test5 qtwebengine5-dev libqt5webchannel5-dev libqt5svg5-dev
  libpugixml-dev lzma-dev xz-utils libudev-dev libxcb1-dev libxcb-xinput-dev
  googletest libgtest-dev libgmock-dev
  xvfb xauth xdotool openbox fonts-wqy-microhei
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
