#!/usr/bin/env bash
# Installs the Debian 12 packages the station builds, runs and tests with.
# Programs the station runs itself on the simulated platform (those that do
# not change the machine) must be here too: ping for the network dialog's
# connection test; sync, cp, ls, grep and bash come with every Debian.
set -euo pipefail
PKGS=(cmake ninja-build g++ pkg-config libbenchmark-dev
      qtbase5-dev libqt5sql5-sqlite libopencv-dev libgoogle-glog-dev
      libmodbus-dev libboost-dev libcpp-httplib-dev xvfb xauth fonts-wqy-microhei fonts-wqy-zenhei imagemagick xdotool
      iputils-ping)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
